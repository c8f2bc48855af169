// Mapping between typed text and the 8-bit codes the derivation works on.
//
// Passwords were first derived from text in the Windows-1252 code page, so
// that mapping is the reference: a character of Windows-1252 maps to its code
// there, and any other character maps to the bytes of its UTF-8 form. Changing
// this mapping changes users' passwords, so it is fixed for good.
#pragma once

#include <string>
#include <string_view>

namespace tarn {

// Maps UTF-8 text to derivation codes. A byte sequence that is not valid
// UTF-8 passes through unchanged, byte by byte.
std::string Utf8ToKeyBytes(std::string_view utf8);

// Maps derivation codes (a derived password) back to UTF-8 for display,
// reading each byte as a Windows-1252 character.
std::string KeyBytesToUtf8(std::string_view bytes);

}  // namespace tarn

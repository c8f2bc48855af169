// Maps operating-system errors (errno values) to the engine's error codes.
//
//   ENOENT, ENOTDIR                    -> CAIRN_OSENOENT  (file or path not found)
//   EMFILE, ENFILE                     -> CAIRN_OSEMFILE
//   EACCES, EPERM, EROFS, ETXTBSY,
//   EWOULDBLOCK (sharing refused),
//   EISDIR                             -> CAIRN_OSEACCES
//   EBADF                              -> CAIRN_OSEBADF
//   ENOMEM                             -> CAIRN_OSENOMEM
//   ENODEV, ENXIO                      -> CAIRN_OSENODEV
//   EXDEV                              -> CAIRN_OSENOTSAM
//   anything else                      -> CAIRN_OSUNKNOWN
//
// The file layer returns failures as the negated code; the raw errno of the
// most recent mapping on this thread is kept for CAIRN_OSUNKNOWN's message.
#pragma once

#include <cstdint>

namespace cairn {

uint16_t MapOsError(int os_error);
// The errno given to the most recent MapOsError call on this thread.
int LastOsError();

}  // namespace cairn

// tarn-derive KEYFILE: derives a password on the command line.
//
// Standard input: line 1 the string, line 2 the number text, both UTF-8 (a
// trailing CR of either line is dropped). Standard output: the password as
// raw Windows-1252 bytes and one newline.
// Exit codes: 0 password, 1 key file cannot be opened or read, 2 insufficient
// bytes, 64 wrong usage.
#include <cstdio>
#include <iostream>
#include <string>

#include "generator/codepage.h"
#include "generator/derive.h"

namespace {

std::string ReadLine(std::istream& in) {
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: tarn-derive KEYFILE < (string line, number line)\n";
    return 64;
  }
  const std::string key_string = ReadLine(std::cin);
  const std::string number_text = ReadLine(std::cin);

  const tarn::DeriveResult result =
      tarn::DerivePassword(argv[1], tarn::Utf8ToKeyBytes(key_string), number_text);
  switch (result.kind) {
    case tarn::DeriveResult::Kind::kPassword:
      std::fwrite(result.password.data(), 1, result.password.size(), stdout);
      std::fputc('\n', stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    case tarn::DeriveResult::Kind::kInsufficientBytes:
      std::cerr << tarn::kInsufficientBytesMessage << "\n";
      return 2;
    case tarn::DeriveResult::Kind::kFileError:
      break;
  }
  std::cerr << result.error << "\n";
  return 1;
}

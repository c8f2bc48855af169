#include "tools/cairn/command.h"

namespace cairn::tool {

TTablePath ParseTablePath(std::string_view arg) {
  std::string base(arg);
  if (base.size() > 4 && base[base.size() - 4] == '.') {
    std::string ext = base.substr(base.size() - 3);
    for (char& c : ext) c = char(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (ext == "DAT" || ext == "IDX" || ext == "BLB") base.resize(base.size() - 4);
  }
  TTablePath path;
  path.base = base;
  size_t slash = base.find_last_of('/');
  path.name = slash == std::string::npos ? base : base.substr(slash + 1);
  return path;
}

}  // namespace cairn::tool

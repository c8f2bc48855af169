#include "storage/files/os_error.h"

#include <cerrno>

#include "storage/base/engine_error.h"

namespace cairn {
namespace {
thread_local int last_os_error = 0;
}  // namespace

uint16_t MapOsError(int os_error) {
  last_os_error = os_error;
  switch (os_error) {
    case ENOENT:
    case ENOTDIR:
      return CAIRN_OSENOENT;
    case EMFILE:
    case ENFILE:
      return CAIRN_OSEMFILE;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EWOULDBLOCK:
    case EISDIR:
      return CAIRN_OSEACCES;
    case EBADF:
      return CAIRN_OSEBADF;
    case ENOMEM:
      return CAIRN_OSENOMEM;
    case ENODEV:
    case ENXIO:
      return CAIRN_OSENODEV;
    case EXDEV:
      return CAIRN_OSENOTSAM;
    default:
      return CAIRN_OSUNKNOWN;
  }
}

int LastOsError() { return last_os_error; }

}  // namespace cairn

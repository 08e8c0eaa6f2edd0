#include "base/errno_error.h"

#include <cerrno>

OSErr ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return fnfErr;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EISDIR:
      return accessDeniedErr;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return dskFulErr;
    case ENOMEM:
      return memFullErr;
    default:  // ENXIO too: a pipe with no reader
      return ioErr;
  }
}

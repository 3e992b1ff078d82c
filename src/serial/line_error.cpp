#include "serial/line_error.h"

#include <cerrno>

namespace mirk3 {

LineError LineErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return LineError::None;
    case ENOENT:
    case ENOTDIR:
      return LineError::NotFound;
    case EACCES:
    case EPERM:
      return LineError::PermissionDenied;
    case EBUSY:
    case EWOULDBLOCK:
      return LineError::Busy;
    case ETIMEDOUT:
      return LineError::TimedOut;
    // A USB modem that is unplugged or reboots takes its terminal with it.
    case EIO:
    case ENXIO:
    case ENODEV:
      return LineError::Removed;
    case EBADF:
      return LineError::NotOpen;
    default:
      return LineError::Other;
  }
}

std::string LineErrorText(LineError error) {
  switch (error) {
    case LineError::None:
      return "no error";
    case LineError::NotFound:
      return "the port does not exist";
    case LineError::PermissionDenied:
      return "permission denied";
    case LineError::Busy:
      return "the port is in use by another program";
    case LineError::TimedOut:
      return "the phone did not answer within the time limit";
    case LineError::Removed:
      return "the phone was disconnected";
    case LineError::NotOpen:
      return "the line was already closed";
    case LineError::Other:
      break;
  }
  return "the line failed";
}

}  // namespace mirk3

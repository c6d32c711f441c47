#include <cerrno>

#include "platform/posix/FileProvider.h"

namespace quorvel::posix {

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EFAULT:
      return ERROR_NOACCESS;
    case EBUSY:
      return ERROR_BUSY;
    // A device node whose device is gone: hidraw answers reads with EIO and
    // ioctls and writes with ENODEV; USB reports ESHUTDOWN; opening such a node
    // gives ENXIO or ENODEV.
    case ENODEV:
    case ENXIO:
    case EIO:
    case ESHUTDOWN:
      return ERROR_DEVICE_NOT_CONNECTED;
    case EPIPE:  // the device stalled the request
      return ERROR_GEN_FAILURE;
    case ETIMEDOUT:
      return ERROR_SEM_TIMEOUT;
    case ENOTTY:
    case ENOSYS:
      return ERROR_INVALID_FUNCTION;
    case EOPNOTSUPP:
      return ERROR_NOT_SUPPORTED;
    case EOVERFLOW:
    case EMSGSIZE:
      return ERROR_INSUFFICIENT_BUFFER;
    case ECANCELED:
      return ERROR_OPERATION_ABORTED;
    case EAGAIN:
      return ERROR_IO_PENDING;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace quorvel::posix

// Diagnostic printers: error and warning lines, errno explanations from one table of
// (call, errno, explanation) rows, gated debug printers, time stamp and log file.
#include "core/diag_print.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/paths.h"

namespace {

struct CallNameRow {
  DiagCall call;
  const char* name;
};

constexpr CallNameRow kCallNames[] = {
    {DiagCall::open, "open"},
    {DiagCall::write, "write"},
    {DiagCall::close, "close"},
    {DiagCall::pthread_create, "pthread_create"},
    {DiagCall::pthread_mutex_init, "pthread_mutex_init"},
    {DiagCall::pthread_mutex_lock, "pthread_mutex_lock"},
    {DiagCall::pthread_mutex_trylock, "pthread_mutex_trylock"},
    {DiagCall::pthread_mutex_unlock, "pthread_mutex_unlock"},
    {DiagCall::pthread_mutex_destroy, "pthread_mutex_destroy"},
    {DiagCall::accept, "accept"},
    {DiagCall::bind, "bind"},
    {DiagCall::listen, "listen"},
    {DiagCall::recv, "recv"},
    {DiagCall::socket, "socket"},
};

constexpr bool call_names_in_order() {
  for (std::size_t i = 0; i < std::size(kCallNames); ++i) {
    if (static_cast<std::size_t>(kCallNames[i].call) != i) return false;
  }
  return true;
}
static_assert(call_names_in_order(), "call names must follow DiagCall order");

struct ErrnoRow {
  DiagCall call;
  int error;
  const char* explanation;
};

// What each errno value means for each call, after the call's manual page. EAGAIN and
// EWOULDBLOCK are one value on Linux and are listed once.
constexpr ErrnoRow kErrnoRows[] = {
    {DiagCall::open, EACCES, "The requested access to the file is not allowed, or search permission is denied for a directory in the path.\n"},
    {DiagCall::open, EDQUOT, "The file does not exist and the user's quota of disk blocks or inodes on the file system has been exhausted.\n"},
    {DiagCall::open, EEXIST, "pathname already exists and O_CREAT and O_EXCL were used.\n"},
    {DiagCall::open, EFAULT, "pathname points outside your accessible address space.\n"},
    {DiagCall::open, EFBIG, "pathname refers to a regular file that is too large to be opened.\n"},
    {DiagCall::open, EINTR, "While blocked waiting to complete an open of a slow device, the call was interrupted by a signal handler.\n"},
    {DiagCall::open, EINVAL, "Invalid value in flags.\n"},
    {DiagCall::open, EISDIR, "pathname refers to a directory and the access requested involved writing.\n"},
    {DiagCall::open, ELOOP, "Too many symbolic links were encountered in resolving pathname.\n"},
    {DiagCall::open, EMFILE, "The per-process limit on the number of open file descriptors has been reached.\n"},
    {DiagCall::open, ENAMETOOLONG, "pathname was too long.\n"},
    {DiagCall::open, ENFILE, "The system-wide limit on the total number of open files has been reached.\n"},
    {DiagCall::open, ENODEV, "pathname refers to a device special file and no corresponding device exists.\n"},
    {DiagCall::open, ENOENT, "O_CREAT is not set and the named file does not exist, or a directory component in pathname does not exist.\n"},
    {DiagCall::open, ENOMEM, "Insufficient kernel memory was available.\n"},
    {DiagCall::open, ENOSPC, "pathname was to be created but the device containing pathname has no room for the new file.\n"},
    {DiagCall::open, ENOTDIR, "A component used as a directory in pathname is not, in fact, a directory.\n"},
    {DiagCall::open, ENXIO, "O_NONBLOCK | O_WRONLY is set, the named file is a FIFO, and no process has the FIFO open for reading.\n"},
    {DiagCall::open, EOVERFLOW, "pathname refers to a regular file that is too large to be opened.\n"},
    {DiagCall::open, EPERM, "The O_NOATIME flag was specified, but the caller was not the owner of the file and was not privileged.\n"},
    {DiagCall::open, EROFS, "pathname refers to a file on a read-only file system and write access was requested.\n"},
    {DiagCall::open, ETXTBSY, "pathname refers to an executable image which is currently being executed and write access was requested.\n"},
    {DiagCall::open, EAGAIN, "The O_NONBLOCK flag was specified, and an incompatible lease was held on the file.\n"},

    {DiagCall::write, EAGAIN, "The file descriptor has been marked nonblocking and the write would block.\n"},
    {DiagCall::write, EBADF, "fd is not a valid file descriptor or is not open for writing.\n"},
    {DiagCall::write, EDESTADDRREQ, "fd refers to a datagram socket for which a peer address has not been set.\n"},
    {DiagCall::write, EDQUOT, "The user's quota of disk blocks on the file system containing the file has been exhausted.\n"},
    {DiagCall::write, EFAULT, "buf is outside your accessible address space.\n"},
    {DiagCall::write, EFBIG, "An attempt was made to write a file that exceeds the maximum file size or the process's file size limit.\n"},
    {DiagCall::write, EINTR, "The call was interrupted by a signal before any data was written.\n"},
    {DiagCall::write, EINVAL, "fd is attached to an object which is unsuitable for writing, or the buffer alignment is wrong.\n"},
    {DiagCall::write, EIO, "A low-level I/O error occurred while modifying the inode.\n"},
    {DiagCall::write, ENOSPC, "The device containing the file referred to by fd has no room for the data.\n"},
    {DiagCall::write, EPERM, "The operation was prevented by a file seal.\n"},
    {DiagCall::write, EPIPE, "fd is connected to a pipe or socket whose reading end is closed.\n"},

    {DiagCall::close, EBADF, "fd isn't a valid open file descriptor.\n"},
    {DiagCall::close, EINTR, "The close() call was interrupted by a signal.\n"},
    {DiagCall::close, EIO, "An I/O error occurred.\n"},
    {DiagCall::close, ENOSPC, "There was no room left on the storage device for data written earlier.\n"},
    {DiagCall::close, EDQUOT, "The disk quota was exceeded by data written earlier.\n"},

    {DiagCall::pthread_create, EAGAIN, "Insufficient resources to create another thread, or a system-imposed limit on the number of threads was encountered.\n"},
    {DiagCall::pthread_create, EINVAL, "Invalid settings in attr.\n"},
    {DiagCall::pthread_create, EPERM, "No permission to set the scheduling policy and parameters specified in attr.\n"},

    {DiagCall::pthread_mutex_init, EAGAIN, "The system lacked the necessary resources (other than memory) to initialize another mutex.\n"},
    {DiagCall::pthread_mutex_init, ENOMEM, "Insufficient memory exists to initialize the mutex.\n"},
    {DiagCall::pthread_mutex_init, EPERM, "The caller does not have the privilege to perform the operation.\n"},
    {DiagCall::pthread_mutex_init, EBUSY, "An attempt was made to reinitialize a mutex that is still in use.\n"},
    {DiagCall::pthread_mutex_init, EINVAL, "The value specified by attr is invalid.\n"},

    {DiagCall::pthread_mutex_lock, EINVAL, "The mutex was created with the protocol attribute PTHREAD_PRIO_PROTECT and the caller's priority is higher than the mutex's priority ceiling, or the mutex is not initialized.\n"},
    {DiagCall::pthread_mutex_lock, EAGAIN, "The mutex could not be acquired because the maximum number of recursive locks for mutex has been exceeded.\n"},
    {DiagCall::pthread_mutex_lock, EDEADLK, "The current thread already owns the mutex.\n"},
    {DiagCall::pthread_mutex_lock, EOWNERDEAD, "The mutex is a robust mutex and the previous owning thread terminated while holding the mutex lock.\n"},
    {DiagCall::pthread_mutex_lock, ENOTRECOVERABLE, "The state protected by the mutex is not recoverable.\n"},

    {DiagCall::pthread_mutex_trylock, EBUSY, "The mutex could not be acquired because it was already locked.\n"},
    {DiagCall::pthread_mutex_trylock, EINVAL, "The mutex was created with the protocol attribute PTHREAD_PRIO_PROTECT and the caller's priority is higher than the mutex's priority ceiling, or the mutex is not initialized.\n"},
    {DiagCall::pthread_mutex_trylock, EAGAIN, "The mutex could not be acquired because the maximum number of recursive locks for mutex has been exceeded.\n"},
    {DiagCall::pthread_mutex_trylock, EOWNERDEAD, "The mutex is a robust mutex and the previous owning thread terminated while holding the mutex lock.\n"},

    {DiagCall::pthread_mutex_unlock, EINVAL, "The value specified by mutex does not refer to an initialized mutex object.\n"},
    {DiagCall::pthread_mutex_unlock, EPERM, "The current thread does not own the mutex.\n"},

    {DiagCall::pthread_mutex_destroy, EBUSY, "The mutex is currently locked or referenced by another thread.\n"},
    {DiagCall::pthread_mutex_destroy, EINVAL, "The value specified by mutex is invalid.\n"},

    {DiagCall::accept, EAGAIN, "The socket is marked nonblocking and no connections are present to be accepted.\n"},
    {DiagCall::accept, EBADF, "sockfd is not an open file descriptor.\n"},
    {DiagCall::accept, ECONNABORTED, "A connection has been aborted.\n"},
    {DiagCall::accept, EFAULT, "The addr argument is not in a writable part of the user address space.\n"},
    {DiagCall::accept, EINTR, "The system call was interrupted by a signal that was caught before a valid connection arrived.\n"},
    {DiagCall::accept, EINVAL, "Socket is not listening for connections, or addrlen is invalid.\n"},
    {DiagCall::accept, EMFILE, "The per-process limit on the number of open file descriptors has been reached.\n"},
    {DiagCall::accept, ENFILE, "The system-wide limit on the total number of open files has been reached.\n"},
    {DiagCall::accept, ENOBUFS, "Not enough free memory; socket buffer limits were reached.\n"},
    {DiagCall::accept, ENOMEM, "Not enough free memory; memory allocation is limited by the socket buffer limits.\n"},
    {DiagCall::accept, ENOTSOCK, "The file descriptor sockfd does not refer to a socket.\n"},
    {DiagCall::accept, EOPNOTSUPP, "The referenced socket is not of type SOCK_STREAM.\n"},
    {DiagCall::accept, EPROTO, "Protocol error.\n"},
    {DiagCall::accept, EPERM, "Firewall rules forbid connection.\n"},

    {DiagCall::bind, EACCES, "The address is protected, and the user is not the superuser.\n"},
    {DiagCall::bind, EADDRINUSE, "The given address is already in use.\n"},
    {DiagCall::bind, EBADF, "sockfd is not a valid file descriptor.\n"},
    {DiagCall::bind, EINVAL, "The socket is already bound to an address, or addrlen is wrong, or addr is not a valid address for this socket's domain.\n"},
    {DiagCall::bind, ENOTSOCK, "The file descriptor sockfd does not refer to a socket.\n"},
    {DiagCall::bind, EADDRNOTAVAIL, "A nonexistent interface was requested or the requested address was not local.\n"},
    {DiagCall::bind, EFAULT, "addr points outside the user's accessible address space.\n"},
    {DiagCall::bind, ELOOP, "Too many symbolic links were encountered in resolving addr.\n"},
    {DiagCall::bind, ENAMETOOLONG, "addr is too long.\n"},
    {DiagCall::bind, ENOENT, "A component in the directory prefix of the socket pathname does not exist.\n"},
    {DiagCall::bind, ENOMEM, "Insufficient kernel memory was available.\n"},
    {DiagCall::bind, ENOTDIR, "A component of the path prefix is not a directory.\n"},
    {DiagCall::bind, EROFS, "The socket inode would reside on a read-only file system.\n"},

    {DiagCall::listen, EADDRINUSE, "Another socket is already listening on the same port.\n"},
    {DiagCall::listen, EBADF, "The argument sockfd is not a valid file descriptor.\n"},
    {DiagCall::listen, ENOTSOCK, "The file descriptor sockfd does not refer to a socket.\n"},
    {DiagCall::listen, EOPNOTSUPP, "The socket is not of a type that supports the listen() operation.\n"},

    {DiagCall::recv, EAGAIN, "The socket is marked nonblocking and the receive operation would block, or a receive timeout had been set and the timeout expired before data was received.\n"},
    {DiagCall::recv, EBADF, "The argument sockfd is an invalid file descriptor.\n"},
    {DiagCall::recv, ECONNREFUSED, "A remote host refused to allow the network connection.\n"},
    {DiagCall::recv, EFAULT, "The receive buffer pointer(s) point outside the process's address space.\n"},
    {DiagCall::recv, EINTR, "The receive was interrupted by delivery of a signal before any data was available.\n"},
    {DiagCall::recv, EINVAL, "Invalid argument passed.\n"},
    {DiagCall::recv, ENOMEM, "Could not allocate memory for recvmsg().\n"},
    {DiagCall::recv, ENOTCONN, "The socket is associated with a connection-oriented protocol and has not been connected.\n"},
    {DiagCall::recv, ENOTSOCK, "The file descriptor sockfd does not refer to a socket.\n"},

    {DiagCall::socket, EACCES, "Permission to create a socket of the specified type and/or protocol is denied.\n"},
    {DiagCall::socket, EAFNOSUPPORT, "The implementation does not support the specified address family.\n"},
    {DiagCall::socket, EINVAL, "Unknown protocol, or protocol family not available, or invalid flags in type.\n"},
    {DiagCall::socket, EMFILE, "The per-process limit on the number of open file descriptors has been reached.\n"},
    {DiagCall::socket, ENFILE, "The system-wide limit on the total number of open files has been reached.\n"},
    {DiagCall::socket, ENOBUFS, "Insufficient memory is available. The socket cannot be created until sufficient resources are freed.\n"},
    {DiagCall::socket, ENOMEM, "Insufficient memory is available. The socket cannot be created until sufficient resources are freed.\n"},
    {DiagCall::socket, EPROTONOSUPPORT, "The protocol type or the specified protocol is not supported within this domain.\n"},
};

constexpr const char* kUnknownError = "Unknown Error!\n";

std::atomic<uint32_t> g_debug_mask{0};

// The log file is shared by every thread that writes it.
std::mutex g_log_mutex;

void print_tagged_line(const char* tag, const char* source, const char* function, int line,
                       const char* format, va_list args) {
  // One stdio lock around the whole line so threads do not interleave within it.
  flockfile(stdout);
  std::printf("%s [%s | %s | %d] ", tag, source, function, line);
  std::vprintf(format, args);
  funlockfile(stdout);
}

void print_named_line(const char* tag, const char* file, const char* function,
                      const char* message) {
  std::printf("%s : File Name = '%s', Function = '%s()',  Message = '%s'\n", tag, file,
              function, message);
}

}  // namespace

void diag_error_line(const char* source, const char* function, int line, const char* format,
                     ...) {
  va_list args;
  va_start(args, format);
  print_tagged_line("** ERROR:", source, function, line, format, args);
  va_end(args);
}

void diag_warning_line(const char* source, const char* function, int line,
                       const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_tagged_line("WARNING:", source, function, line, format, args);
  va_end(args);
}

const char* diag_call_explanation(DiagCall call, int error) {
  for (const ErrnoRow& row : kErrnoRows) {
    if (row.call == call && row.error == error) return row.explanation;
  }
  return kUnknownError;
}

void diag_call_error(DiagCall call, const char* what, int error) {
  flockfile(stdout);
  std::printf("%s\tdiagnosing error %s = %d\n", what,
              kCallNames[static_cast<std::size_t>(call)].name, error);
  std::fputs(diag_call_explanation(call, error), stdout);
  funlockfile(stdout);
}

void diag_print_error(const char* file, const char* function, const char* message) {
  print_named_line("ERROR", file, function, message);
}

void diag_print_trace(const char* file, const char* function, const char* message) {
  print_named_line("TRACE", file, function, message);
}

void diag_set_debug_mask(uint32_t mask) { g_debug_mask.store(mask, std::memory_order_relaxed); }

uint32_t diag_debug_mask() { return g_debug_mask.load(std::memory_order_relaxed); }

bool diag_debug_enabled(uint32_t bits) {
  uint32_t mask = diag_debug_mask();
  return (mask & bits) != 0 || (mask & 1u) != 0;
}

void diag_debug_printf(uint32_t bits, const char* format, ...) {
  if (!diag_debug_enabled(bits)) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

void diag_debug_trace(uint32_t bits, const char* file, const char* function,
                      const char* message) {
  if (diag_debug_enabled(bits)) diag_print_trace(file, function, message);
}

std::string diag_time_stamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[64] = {};
  // The reentrant forms: several threads stamp their lines at once.
  if (localtime_r(&now, &local) == nullptr || asctime_r(&local, text) == nullptr) return {};
  return text;
}

int diag_log_write(const char* path, const char* text) {
  const std::string resolved = platform::ResolvePath(path);
  std::lock_guard<std::mutex> lock(g_log_mutex);
  int fd = ::open(resolved.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) {
    diag_call_error(DiagCall::open, resolved.c_str(), errno);
    return -1;
  }
  int result = 0;
  std::size_t length = std::strlen(text);
  std::size_t done = 0;
  while (done < length) {
    ssize_t written = ::write(fd, text + done, length - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      diag_call_error(DiagCall::write, resolved.c_str(), errno);
      result = -1;
      break;
    }
    done += static_cast<std::size_t>(written);
  }
  if (::close(fd) != 0) {
    diag_call_error(DiagCall::close, resolved.c_str(), errno);
    result = -1;
  }
  return result;
}

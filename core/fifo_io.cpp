// Named FIFO helpers and the block-reading frame cutter.
#include "core/fifo_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/run_state.h"

int EnsureFifo(const std::string& path) {
  if (access(path.c_str(), F_OK) == 0) return 0;
  if (mkfifo(path.c_str(), 0777) == 0) return 0;
  return errno == EEXIST ? 0 : -1;  // the other program made it first
}

int OpenFifo(const std::string& path, int flags) {
  for (;;) {
    int fd = open(path.c_str(), flags);
    if (fd >= 0 || errno != EINTR || !IsRunning()) return fd;
  }
}

int OpenFifoEnd(const std::string& path, int flags) {
  if (EnsureFifo(path) != 0) {
    std::perror("mkfifo");
    return -1;
  }
  int fd = OpenFifo(path, flags);
  if (fd < 0) std::perror("open");
  return fd;
}

void CloseFifo(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

void DrainFifo(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  char scrap[4096];
  while (read(fd, scrap, sizeof scrap) > 0) {
  }
  close(fd);
}

ssize_t WriteFrame(int fd, const char* data, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = write(fd, data + done, length - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR && IsRunning()) continue;
    return done > 0 ? static_cast<ssize_t>(done) : -1;
  }
  return static_cast<ssize_t>(done);
}

void FrameReader::SkipBetweenFrames() {
  while (start_ < end_ && (buffer_[start_] == '\0' || (resync_ && buffer_[start_] != PIPE_STX))) {
    ++start_;
  }
  if (start_ < end_) resync_ = false;
}

FrameReadResult FrameReader::Next(int fd, char* frame) {
  for (;;) {
    SkipBetweenFrames();
    if (start_ < end_) {
      // A frame and its NUL must fit FRAME_SIZE, so only that much is searched.
      std::size_t window = std::min(end_ - start_, FRAME_SIZE - 1);
      const char* begin = buffer_ + start_;
      const void* hit = std::memchr(begin, terminator_, window);
      if (hit != nullptr) {
        std::size_t stop = static_cast<std::size_t>(static_cast<const char*>(hit) - begin);
        std::size_t length = terminator_ == '\0' ? stop : stop + 1;
        std::memcpy(frame, begin, length);
        frame[length] = '\0';
        start_ += stop + 1;
        return FrameReadResult::kFrame;
      }
      if (window == FRAME_SIZE - 1) {  // too long to be a frame: drop it, keep the rest
        start_ += window;
        resync_ = true;
        return FrameReadResult::kOverflow;
      }
    }
    if (start_ > 0) {  // keep the partial frame at the front, so a whole one fits
      std::memmove(buffer_, buffer_ + start_, end_ - start_);
      end_ -= start_;
      start_ = 0;
    }
    ssize_t n = read(fd, buffer_ + end_, sizeof(buffer_) - end_);
    if (n > 0) {
      end_ += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) return FrameReadResult::kClosed;
    if (errno == EINTR) {
      if (!IsRunning()) return FrameReadResult::kStopped;
      continue;
    }
    return FrameReadResult::kError;
  }
}

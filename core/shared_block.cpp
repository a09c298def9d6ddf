// SharedBlock: open or create the shared memory object, size it and map it; copy in and
// out of its start.
#include "core/shared_block.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "devices/ipc_names.h"
#include "platform/paths.h"

namespace {

std::string ObjectName() { return platform::GlobalName(kSharedBlockName); }

}  // namespace

SharedBlock::~SharedBlock() { Detach(); }

int SharedBlock::Attach() {
  if (attached()) return 0;
  int fd = shm_open(ObjectName().c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0) return -1;
  if (ftruncate(fd, SHARED_BLOCK_SIZE) != 0) {
    close(fd);
    return -1;
  }
  void* address = mmap(nullptr, SHARED_BLOCK_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) {
    close(fd);
    return -1;
  }
  fd_ = fd;
  address_ = static_cast<unsigned char*>(address);
  return 0;
}

void SharedBlock::Detach() {
  if (address_ != nullptr) munmap(address_, SHARED_BLOCK_SIZE);
  if (fd_ >= 0) close(fd_);
  address_ = nullptr;
  fd_ = -1;
}

int SharedBlock::Check(long length) const {
  if (!attached()) return -1;
  if (length < 0 || length > SHARED_BLOCK_SIZE) return -2;
  return 0;
}

int SharedBlock::WriteIn(const void* source, long length) {
  int result = Check(length);
  if (result == 0 && length > 0) std::memcpy(address_, source, static_cast<std::size_t>(length));
  return result;
}

int SharedBlock::ReadOut(void* destination, long length) const {
  int result = Check(length);
  if (result == 0 && length > 0) std::memcpy(destination, address_, static_cast<std::size_t>(length));
  return result;
}

int SharedBlock::Unlink() { return shm_unlink(ObjectName().c_str()); }

// SharedBlock: the 1 MiB POSIX shared memory object "shared_block" that carries raw
// block transfers between a client of the raw socket and the rest of the chassis.
// Whoever attaches first creates it; later attachments map the same memory. On a PC
// the object's name carries a suffix of the chassis root, so two virtual chassis
// never share one. The block has no lock: its users serialise their transfers.
#pragma once

#include <cstddef>

inline constexpr long SHARED_BLOCK_SIZE = 0x100000;  // 1 MiB

class SharedBlock {
 public:
  SharedBlock() = default;
  ~SharedBlock();  // detaches
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;

  // Creates the object if needed (mode 0600), sizes it to SHARED_BLOCK_SIZE and maps
  // it read-write, shared. 0, or -1 when the object cannot be opened, sized or mapped.
  // Attaching an attached block does nothing.
  int Attach();
  // Unmaps and closes; the object itself stays for other processes.
  void Detach();
  bool attached() const { return address_ != nullptr; }

  // Start of the mapping, or nullptr when not attached.
  unsigned char* Address() const { return address_; }

  // Copy `length` bytes to or from the start of the block. -1 when not attached, -2
  // when length is negative or above SHARED_BLOCK_SIZE.
  int WriteIn(const void* source, long length);
  int ReadOut(void* destination, long length) const;

  // Removes the object from the system (this root's), so nothing is left behind.
  // 0, or -1 with errno set.
  static int Unlink();

 private:
  int Check(long length) const;

  int fd_ = -1;
  unsigned char* address_ = nullptr;
};

// The engine's scratch memory for one program message: a bump allocator over a fixed
// block the engine owns, so parsing a command needs no heap allocation. A message that
// needs more than the block (thousands of commands or parameters) spills into heap
// chunks; only those can fail, and the pipeline reports that as "Out of memory".
// Everything is released at once when the message is done.
#pragma once

#include <cstddef>
#include <cstdint>

class Arena {
 public:
  Arena() = default;
  ~Arena();
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // size bytes aligned for any scalar, uninitialised; nullptr when memory runs out.
  void* Allocate(std::size_t size);
  // A copy of length bytes of text followed by a NUL; nullptr when memory runs out.
  char* CopyText(const char* text, std::size_t length);
  // Frees the spill chunks and rewinds the fixed block.
  void Reset();

  // Test hook: the next spill allocation fails, as if the heap were exhausted.
  void FailNextSpillForTest() { fail_next_spill_ = true; }

 private:
  struct Chunk {
    Chunk* next;
    std::size_t size;
    std::size_t used;
  };
  static constexpr std::size_t kBlockSize = 64 * 1024;
  static constexpr std::size_t kChunkSize = 256 * 1024;

  void* AllocateFromChunk(std::size_t size);

  alignas(std::max_align_t) unsigned char block_[kBlockSize];
  std::size_t used_ = 0;
  Chunk* chunks_ = nullptr;
  bool fail_next_spill_ = false;
};

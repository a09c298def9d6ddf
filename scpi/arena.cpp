// Bump allocation over the engine's fixed block, spilling into heap chunks (see arena.h).
#include "scpi/arena.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr std::size_t kAlign = alignof(std::max_align_t);
constexpr std::size_t RoundUp(std::size_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }
constexpr std::size_t kHeader = RoundUp(sizeof(void*) * 3);
}  // namespace

Arena::~Arena() { Reset(); }

void* Arena::Allocate(std::size_t size) {
  size = RoundUp(size == 0 ? 1 : size);
  if (size <= kBlockSize - used_) {
    void* p = block_ + used_;
    used_ += size;
    return p;
  }
  return AllocateFromChunk(size);
}

void* Arena::AllocateFromChunk(std::size_t size) {
  if (chunks_ != nullptr && size <= chunks_->size - chunks_->used) {
    void* p = reinterpret_cast<unsigned char*>(chunks_) + kHeader + chunks_->used;
    chunks_->used += size;
    return p;
  }
  if (fail_next_spill_) {
    fail_next_spill_ = false;
    return nullptr;
  }
  std::size_t capacity = size > kChunkSize ? size : kChunkSize;
  auto* chunk = static_cast<Chunk*>(std::malloc(kHeader + capacity));
  if (chunk == nullptr) return nullptr;
  chunk->next = chunks_;
  chunk->size = capacity;
  chunk->used = size;
  chunks_ = chunk;
  return reinterpret_cast<unsigned char*>(chunk) + kHeader;
}

char* Arena::CopyText(const char* text, std::size_t length) {
  auto* copy = static_cast<char*>(Allocate(length + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

void Arena::Reset() {
  while (chunks_ != nullptr) {
    Chunk* next = chunks_->next;
    std::free(chunks_);
    chunks_ = next;
  }
  used_ = 0;
}

// StringQueue: a locked first-in first-out queue of 256-byte text entries. The servers
// keep one per client as its error queue and one per port as the inbound queue that
// the pollers fill and the router drains; several threads may push while one pops.
// Each operation holds the queue's mutex for its whole duration. A consumer can sleep
// in WaitNonEmpty until an entry arrives instead of polling.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

inline constexpr std::size_t STRING_QUEUE_TEXT_SIZE = 256;  // 255 characters and NUL

struct StringQueueEntry {
  char text[STRING_QUEUE_TEXT_SIZE];
  StringQueueEntry* next;
  StringQueueEntry* prev;
  void* user;  // free for the queue's user (the servers keep the owning client here)
  // Also the user's. A server's inbound chunk keeps here how many bytes of `text` were
  // received (a NUL among them is a received byte, not the end of the text) and how
  // many bytes of their line were dropped before them.
  uint32_t user_length = 0;
  uint64_t user_skipped = 0;
};

class StringQueue {
 public:
  StringQueue() = default;
  ~StringQueue();
  StringQueue(const StringQueue&) = delete;
  StringQueue& operator=(const StringQueue&) = delete;

  // Appends a copy of `text`; a text longer than 255 characters keeps its first 255.
  // Returns 0, or -1 when no entry could be allocated.
  int PushCopy(const char* text);
  // Appends an entry the caller filled; the queue owns it from now on.
  void PushEntry(std::unique_ptr<StringQueueEntry> entry);

  // Copies the oldest text to `text_out` (STRING_QUEUE_TEXT_SIZE bytes) and drops
  // the entry. -1, with text_out untouched, when the queue is empty.
  int PopCopy(char* text_out);
  // Hands the oldest entry to the caller; null when the queue is empty.
  std::unique_ptr<StringQueueEntry> PopEntry();

  // Copy the oldest or newest text without removing it; -1 when empty.
  int PeekHead(char* text_out) const;
  int PeekTail(char* text_out) const;

  int32_t Count() const;

  // Drops every entry (what a client's error queue does on clear).
  void Clear();

  // Sleeps until the queue holds an entry, WakeAll has been called, or `timeout`
  // passes. True when an entry is waiting.
  bool WaitNonEmpty(std::chrono::milliseconds timeout);
  // Shutdown: wakes every waiter, and later waits return at once.
  void WakeAll();

 private:
  void Append(StringQueueEntry* entry);  // caller holds mutex_
  StringQueueEntry* Unlink();            // caller holds mutex_; null when empty
  void FreeAll();                        // caller holds mutex_

  mutable std::mutex mutex_;
  std::condition_variable nonempty_;
  StringQueueEntry* head_ = nullptr;
  StringQueueEntry* tail_ = nullptr;
  int32_t count_ = 0;
  bool stopping_ = false;
};

// StringQueue: a doubly linked list of entries under one mutex, with a condition
// variable so the consumer can sleep while the queue is empty.
#include "core/string_queue.h"

#include <cstring>
#include <new>

StringQueue::~StringQueue() { FreeAll(); }

void StringQueue::Append(StringQueueEntry* entry) {
  entry->next = nullptr;
  entry->prev = tail_;
  if (tail_ != nullptr) {
    tail_->next = entry;
  } else {
    head_ = entry;
  }
  tail_ = entry;
  ++count_;
  nonempty_.notify_one();
}

StringQueueEntry* StringQueue::Unlink() {
  StringQueueEntry* entry = head_;
  if (entry == nullptr) return nullptr;
  head_ = entry->next;
  if (head_ != nullptr) {
    head_->prev = nullptr;
  } else {
    tail_ = nullptr;
  }
  --count_;
  entry->next = nullptr;
  entry->prev = nullptr;
  return entry;
}

void StringQueue::FreeAll() {
  while (StringQueueEntry* entry = Unlink()) delete entry;
}

int StringQueue::PushCopy(const char* text) {
  auto* entry = new (std::nothrow) StringQueueEntry{};
  if (entry == nullptr) return -1;
  // An error text can be longer than an entry: keep what fits.
  std::size_t length = strnlen(text, STRING_QUEUE_TEXT_SIZE - 1);
  std::memcpy(entry->text, text, length);
  entry->text[length] = '\0';
  std::lock_guard<std::mutex> lock(mutex_);
  Append(entry);
  return 0;
}

void StringQueue::PushEntry(std::unique_ptr<StringQueueEntry> entry) {
  if (entry == nullptr) return;
  entry->text[STRING_QUEUE_TEXT_SIZE - 1] = '\0';  // every text in the queue ends
  std::lock_guard<std::mutex> lock(mutex_);
  Append(entry.release());
}

int StringQueue::PopCopy(char* text_out) {
  std::lock_guard<std::mutex> lock(mutex_);
  StringQueueEntry* entry = Unlink();
  if (entry == nullptr) return -1;
  std::memcpy(text_out, entry->text, STRING_QUEUE_TEXT_SIZE);
  delete entry;
  return 0;
}

std::unique_ptr<StringQueueEntry> StringQueue::PopEntry() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::unique_ptr<StringQueueEntry>(Unlink());
}

int StringQueue::PeekHead(char* text_out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (head_ == nullptr) return -1;
  std::memcpy(text_out, head_->text, STRING_QUEUE_TEXT_SIZE);
  return 0;
}

int StringQueue::PeekTail(char* text_out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (tail_ == nullptr) return -1;
  std::memcpy(text_out, tail_->text, STRING_QUEUE_TEXT_SIZE);
  return 0;
}

int32_t StringQueue::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

void StringQueue::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  FreeAll();
}

bool StringQueue::WaitNonEmpty(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  nonempty_.wait_for(lock, timeout, [this] { return count_ > 0 || stopping_; });
  return count_ > 0;
}

void StringQueue::WakeAll() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  nonempty_.notify_all();
}

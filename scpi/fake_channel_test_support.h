// A command channel without a pipe, for tests and benchmarks: it plays the server's
// side of every ChannelHandle callback the way the I/O servers do (four status bytes,
// an error queue that answers 0,"No error" when empty, a status byte whose
// message-available bit (STB bit 4) is set while a response is unread and cleared
// when the client reads it) and captures the responses. Fixed buffers only, so a benchmark measures the engine, not the fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "scpi/channel_handle.h"

class FakeChannel {
 public:
  static constexpr std::size_t kQueueDepth = 32;
  static constexpr std::size_t kEntrySize = 256;  // a server's error queue entry
  static constexpr uint8_t kMessageAvailable = 0x10;  // STB bit 4

  // with_server false leaves read_status empty: a caller with no server behind it.
  explicit FakeChannel(bool with_server = true);
  FakeChannel(const FakeChannel&) = delete;
  FakeChannel& operator=(const FakeChannel&) = delete;

  ChannelHandle* handle() { return &handle_; }

  // Executes one program message as a server would send it.
  void Send(const char* message);

  // The client side: the last response and whether it is still unread.
  const char* response() const { return response_; }
  int response_count() const { return response_count_; }
  bool output_pending() const { return (stb_ & kMessageAvailable) != 0; }
  // Reads the response: returns it and clears the message-available state.
  std::string TakeResponse();
  // Reads the response without keeping it (benchmarks: no allocation).
  void DiscardResponse() { stb_ = static_cast<uint8_t>(stb_ & ~kMessageAvailable); }

  // Error queue, oldest first.
  std::size_t error_count() const { return error_count_; }
  std::string PopError();
  int cleared_count() const { return cleared_count_; }

  // The status bytes as the server holds them.
  uint8_t ese() const { return ese_; }
  uint8_t esr() const { return esr_; }
  uint8_t sre() const { return sre_; }
  uint8_t stb() const { return stb_; }
  void SetStatus(uint8_t ese, uint8_t esr, uint8_t sre, uint8_t stb);
  // How many times the engine asked for the four status bytes.
  int status_reads() const { return status_reads_; }

 private:
  // Pops the oldest entry into out (kEntrySize bytes), or the empty queue's answer.
  void PopInto(char* out);
  static FakeChannel* Self(CommandChannel* channel);
  static int NotifyDone(CommandChannel* channel);
  static int PushError(CommandChannel* channel, const char* text);
  static int WriteResponse(CommandChannel* channel, const char* text);
  static int ReadStatus(CommandChannel* channel, uint8_t* ese, uint8_t* esr, uint8_t* sre,
                        uint8_t* stb);
  static int ReadError(CommandChannel* channel, char* text_out);
  template <uint8_t FakeChannel::*Byte>
  static int WriteByte(CommandChannel* channel, uint8_t value);
  static int ClearErrors(CommandChannel* channel);

  ChannelHandle handle_;
  uint8_t ese_ = 0;
  uint8_t esr_ = 0;
  uint8_t sre_ = 0;
  uint8_t stb_ = 0;
  int response_count_ = 0;
  int cleared_count_ = 0;
  int status_reads_ = 0;
  std::size_t response_length_ = 0;
  char response_[kCommandTextSize];
  std::size_t error_head_ = 0;
  std::size_t error_count_ = 0;
  char errors_[kQueueDepth][kEntrySize];
};

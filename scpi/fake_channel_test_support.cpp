// The in-process stand-in for a server's side of a command channel (see fake_channel_test_support.h).
#include "scpi/fake_channel_test_support.h"

#include <cstring>

#include "scpi/scpi_engine.h"

namespace {

constexpr char kNoError[] = "0,\"No error\"";

// Copies at most size - 1 bytes and terminates, as the servers' fixed entries do.
std::size_t CopyBounded(char* out, const char* text, std::size_t size) {
  std::size_t length = std::strlen(text);
  if (length > size - 1) length = size - 1;
  std::memcpy(out, text, length);
  out[length] = '\0';
  return length;
}

}  // namespace

FakeChannel::FakeChannel(bool with_server) {
  handle_.command_text[0] = '\0';
  response_[0] = '\0';
  handle_.notify_done = NotifyDone;
  handle_.push_error = PushError;
  handle_.write_response = WriteResponse;
  handle_.read_status = with_server ? ReadStatus : nullptr;
  handle_.read_error = ReadError;
  handle_.write_ese = WriteByte<&FakeChannel::ese_>;
  handle_.write_esr = WriteByte<&FakeChannel::esr_>;
  handle_.write_sre = WriteByte<&FakeChannel::sre_>;
  handle_.write_stb = WriteByte<&FakeChannel::stb_>;
  handle_.clear_errors = ClearErrors;
  handle_.channel = reinterpret_cast<CommandChannel*>(this);
}

void FakeChannel::Send(const char* message) {
  CopyBounded(handle_.command_text, message, kCommandTextSize);
  ExecuteProgramMessage(&handle_);
}

std::string FakeChannel::TakeResponse() {
  DiscardResponse();
  return std::string(response_, response_length_);
}

std::string FakeChannel::PopError() {
  char entry[kEntrySize];
  PopInto(entry);
  return entry;
}

void FakeChannel::PopInto(char* out) {
  if (error_count_ == 0) {
    std::memcpy(out, kNoError, sizeof kNoError);
    return;
  }
  const char* oldest = errors_[error_head_];
  std::memcpy(out, oldest, std::strlen(oldest) + 1);
  error_head_ = (error_head_ + 1) % kQueueDepth;
  --error_count_;
}

void FakeChannel::SetStatus(uint8_t ese, uint8_t esr, uint8_t sre, uint8_t stb) {
  ese_ = ese;
  esr_ = esr;
  sre_ = sre;
  stb_ = stb;
}

FakeChannel* FakeChannel::Self(CommandChannel* channel) {
  return reinterpret_cast<FakeChannel*>(channel);
}

int FakeChannel::NotifyDone(CommandChannel* /*channel*/) { return 0; }

int FakeChannel::PushError(CommandChannel* channel, const char* text) {
  FakeChannel* self = Self(channel);
  // The servers' queues have no depth limit; the fake keeps the newest entries.
  if (self->error_count_ == kQueueDepth) {
    self->error_head_ = (self->error_head_ + 1) % kQueueDepth;
    --self->error_count_;
  }
  std::size_t tail = (self->error_head_ + self->error_count_) % kQueueDepth;
  CopyBounded(self->errors_[tail], text, kEntrySize);
  ++self->error_count_;
  return 0;
}

int FakeChannel::WriteResponse(CommandChannel* channel, const char* text) {
  FakeChannel* self = Self(channel);
  self->response_length_ = CopyBounded(self->response_, text, kCommandTextSize);
  ++self->response_count_;
  self->stb_ = static_cast<uint8_t>(self->stb_ | kMessageAvailable);
  return static_cast<int>(self->response_length_);
}

int FakeChannel::ReadStatus(CommandChannel* channel, uint8_t* ese, uint8_t* esr, uint8_t* sre,
                            uint8_t* stb) {
  ++Self(channel)->status_reads_;
  FakeChannel* self = Self(channel);
  *ese = self->ese_;
  *esr = self->esr_;
  *sre = self->sre_;
  *stb = self->stb_;
  return 0;
}

int FakeChannel::ReadError(CommandChannel* channel, char* text_out) {
  Self(channel)->PopInto(text_out);
  return 0;
}

template <uint8_t FakeChannel::*Byte>
int FakeChannel::WriteByte(CommandChannel* channel, uint8_t value) {
  Self(channel)->*Byte = value;
  return 1;  // the byte count a pipe write of S2 .. S5 reports
}

int FakeChannel::ClearErrors(CommandChannel* channel) {
  FakeChannel* self = Self(channel);
  self->error_head_ = 0;
  self->error_count_ = 0;
  ++self->cleared_count_;
  return 0;
}

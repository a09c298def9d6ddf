// Fuzz target for the pipe protocol: arbitrary bytes as one frame buffer through the
// type parser, both generic decoders and every kind's decoder, and as a FIFO stream
// through the frame reader of both channel kinds. Whatever decodes must come back the
// same through its kind's encoder, so a decoder that accepts what the encoder would
// never write (or the other way round) stops the run as well as a memory fault does.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/fifo_io.h"
#include "core/pipes_comm.h"

namespace {

using TextDecoder = int (*)(PipeMessage*);
using TextEncoder = int (*)(PipeMessage*);
using BinaryDecoder = int (*)(PipeBinaryMessage*);
using BinaryEncoder = int (*)(PipeBinaryMessage*);

struct TextKind {
  TextDecoder decode;
  TextEncoder encode;
};
struct BinaryKind {
  BinaryDecoder decode;
  BinaryEncoder encode;
};

constexpr TextKind kTextKinds[] = {
    {decode_M1_msg, encode_M1_msg},   {decode_M2_msg, encode_M2_msg},
    {decode_S1_msg, encode_S1_msg},   {decode_S6_msg, encode_S6_msg},
    {decode_S7_msg, encode_S7_msg},   {decode_S8_msg, encode_S8_msg},
    {decode_S9_msg, encode_S9_msg},   {decode_S10_msg, encode_S10_msg},
    {decode_E1_msg, encode_E1_msg},   {decode_E2_msg, encode_E2_msg},
};
constexpr BinaryKind kBinaryKinds[] = {
    {decode_M3_msg, encode_M3_msg}, {decode_S2_msg, encode_S2_msg},
    {decode_S3_msg, encode_S3_msg}, {decode_S4_msg, encode_S4_msg},
    {decode_S5_msg, encode_S5_msg}, {decode_E3_msg, encode_E3_msg},
    {decode_E4_msg, encode_E4_msg}, {decode_E5_msg, encode_E5_msg},
    {decode_E6_msg, encode_E6_msg},
};

void Fail(const char* what) {
  std::fprintf(stderr, "pipe_frame: %s\n", what);
  std::abort();
}

// Frame buffers of exactly FRAME_SIZE bytes on the heap, so that the address
// sanitizer sees any access beyond one.
struct Buffers {
  std::unique_ptr<char[]> frame{new char[FRAME_SIZE]};
  std::unique_ptr<char[]> again{new char[FRAME_SIZE]};
  std::unique_ptr<char[]> payload{new char[FRAME_SIZE]};
  std::unique_ptr<PipeMessage> text{new PipeMessage{}};
  std::unique_ptr<PipeMessage> text_again{new PipeMessage{}};
  std::unique_ptr<PipeBinaryMessage> binary{new PipeBinaryMessage{}};
  std::unique_ptr<PipeBinaryMessage> binary_again{new PipeBinaryMessage{}};
};

// A decoded text kind, encoded and decoded again, keeps its mnemonic. A kind with a
// text keeps the text; a text-less kind may have been sent one (the decoder keeps
// it), which its encoder drops.
void CheckTextRoundTrip(Buffers& b, const TextKind& kind) {
  PipeMessage& first = *b.text;
  PipeMessage& second = *b.text_again;
  second.frame = b.again.get();
  std::memcpy(second.text, first.text, sizeof first.text);
  if (kind.encode(&second) != 0) {
    // Only a text longer than a frame can carry is refused, and a decoded text fits.
    Fail("a decoded text frame could not be encoded again");
  }
  std::memset(second.text, 0, sizeof second.text);
  if (kind.decode(&second) != 0) Fail("an encoded text frame does not decode");
  if (std::strcmp(first.mnemonic, second.mnemonic) != 0) Fail("text round trip: mnemonic");
  bool carries_text = std::strchr(b.again.get(), PIPE_SOH) != nullptr;
  if (carries_text && (first.length != second.length ||
                       std::memcmp(first.text, second.text, first.length) != 0)) {
    Fail("text round trip: text");
  }
}

void CheckBinaryRoundTrip(Buffers& b, const BinaryKind& kind) {
  PipeBinaryMessage& first = *b.binary;
  PipeBinaryMessage& second = *b.binary_again;
  second.frame = b.again.get();
  second.count = first.count;
  std::memcpy(second.data, first.data, sizeof first.data);
  if (kind.encode(&second) != 0) Fail("a decoded binary frame could not be encoded again");
  std::memset(second.data, 0, sizeof second.data);
  if (kind.decode(&second) != 0) Fail("an encoded binary frame does not decode");
  if (std::strcmp(first.mnemonic, second.mnemonic) != 0 || first.count != second.count ||
      std::memcmp(first.data, second.data, static_cast<std::size_t>(first.count)) != 0) {
    Fail("binary round trip");
  }
}

// One frame buffer through every decoder.
void DecodeFrame(Buffers& b) {
  PipeMsgKind kind = PipeMsgKind::M1;
  int parsed = parse_message_type(b.frame.get(), b.payload.get(), &kind);
  parse_message_type(b.frame.get(), nullptr, &kind);

  b.text->frame = b.frame.get();
  b.binary->frame = b.frame.get();
  int decoded = decode_string_message(b.text.get());
  if (decoded == 0 && parsed != 0 && parsed != -1) Fail("decoded a frame the parser refused");
  decode_binary_data(b.binary.get());

  int accepted = 0;
  for (const TextKind& text_kind : kTextKinds) {
    if (text_kind.decode(b.text.get()) != 0) continue;
    ++accepted;
    CheckTextRoundTrip(b, text_kind);
  }
  for (const BinaryKind& binary_kind : kBinaryKinds) {
    if (binary_kind.decode(b.binary.get()) != 0) continue;
    ++accepted;
    CheckBinaryRoundTrip(b, binary_kind);
  }
  // Mnemonics are distinct, so one frame is at most one kind, and that kind is the
  // one the type parser names.
  if (accepted > 1) Fail("one frame decoded as two kinds");
  if (accepted == 1 && parsed != 0) Fail("a kind decoded a frame the type parser refused");
}

// The bytes as a FIFO's contents through the frame reader; every frame it hands out is
// a NUL-terminated string that fits a frame buffer, and goes through the decoders.
void ReadFrames(Buffers& b, const uint8_t* data, std::size_t size, char terminator) {
  int fd = memfd_create("pipe_frame_fuzz", 0);
  if (fd < 0) Fail("memfd_create");
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) Fail("memfd write");
  lseek(fd, 0, SEEK_SET);
  auto reader = std::make_unique<FrameReader>(terminator);
  for (int frames = 0;; ++frames) {
    if (frames > static_cast<int>(size) + 1) Fail("the frame reader does not advance");
    std::memset(b.frame.get(), 0x7F, FRAME_SIZE);
    FrameReadResult result = reader->Next(fd, b.frame.get());
    if (result == FrameReadResult::kOverflow) continue;
    if (result != FrameReadResult::kFrame) break;
    std::size_t length = strnlen(b.frame.get(), FRAME_SIZE);
    // A NUL inside a command frame cuts it short; the decoders then refuse it.
    if (length == FRAME_SIZE) Fail("a frame without its NUL");
    DecodeFrame(b);
  }
  close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The codec reports refused frames on standard output; libFuzzer speaks on stderr.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static Buffers buffers;
  // The whole buffer is filled, so that a frame without a NUL inside FRAME_SIZE bytes
  // is met as well.
  std::size_t copied = size < FRAME_SIZE ? size : FRAME_SIZE;
  std::memset(buffers.frame.get(), 0, FRAME_SIZE);
  std::memcpy(buffers.frame.get(), data, copied);
  DecodeFrame(buffers);

  ReadFrames(buffers, data, size, PIPE_ETX);
  ReadFrames(buffers, data, size, '\0');
  return 0;
}

// Tests of the pipe codec: exact frame bytes, parsing and decoding of good and broken
// frames, the overflow limit, and a round trip of every kind.
#include "core/pipes_comm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

const std::string kStx(1, '\x02');
const std::string kSoh(1, '\x01');
const std::string kEtx(1, '\x03');

// Diagnostic lines carry a source line number; tests compare everything else.
std::string WithoutLineNumbers(const std::string& text) {
  return std::regex_replace(text, std::regex(" \\| [0-9]+\\] "), " | N] ");
}

// One direction of a channel: a frame buffer and the two records bound to it.
struct Channel {
  std::vector<char> frame = std::vector<char>(FRAME_SIZE, '\0');
  PipeMessage text{};
  PipeBinaryMessage binary{};
  Channel() {
    text.frame = frame.data();
    binary.frame = frame.data();
  }
  void Load(const std::string& bytes) {
    std::fill(frame.begin(), frame.end(), '\0');
    std::memcpy(frame.data(), bytes.data(), bytes.size());
  }
  std::string Frame() const { return std::string(frame.data()); }
};

TEST(PipeParse, TextLessAndTextFramesGiveKindAndPayloadWithEtx) {
  char payload[FRAME_SIZE] = "stale";
  PipeMsgKind kind = PipeMsgKind::E6;
  ASSERT_EQ(parse_message_type((kStx + "S1" + kEtx).c_str(), payload, &kind), 0);
  EXPECT_EQ(kind, PipeMsgKind::S1);
  EXPECT_STREQ(payload, "");

  ASSERT_EQ(parse_message_type((kStx + "M1" + kSoh + "*IDN?\n" + kEtx).c_str(), payload, &kind), 0);
  EXPECT_EQ(kind, PipeMsgKind::M1);
  EXPECT_EQ(std::string(payload), "*IDN?\n" + kEtx);

  ASSERT_EQ(parse_message_type((kStx + "S10" + kEtx).c_str(), nullptr, &kind), 0);
  EXPECT_EQ(kind, PipeMsgKind::S10);
  ASSERT_EQ(parse_message_type((kStx + "E3" + kSoh + "0" + kSoh + "1" + kEtx).c_str(), payload, &kind), 0);
  EXPECT_EQ(kind, PipeMsgKind::E3);
  EXPECT_EQ(std::string(payload), "0" + kSoh + "1" + kEtx);
}

TEST(PipeParse, MissingEtxOrStxIsReportedAndChangesNothing) {
  char payload[FRAME_SIZE] = "untouched";
  PipeMsgKind kind = PipeMsgKind::E2;

  CaptureStdout();
  EXPECT_EQ(parse_message_type((kStx + "M1" + kSoh + "*RST").c_str(), payload, &kind),
            ERR_CODE_MISSING_PIPE_ETX);
  EXPECT_EQ(WithoutLineNumbers(GetCapturedStdout()),
            "** ERROR: [_util/pipes_comm | parse_message_type | N] "
            "parse_message_type: ERR_CODE_MISSING_PIPE_ETX\n");
  EXPECT_STREQ(payload, "untouched");
  EXPECT_EQ(kind, PipeMsgKind::E2);

  CaptureStdout();
  EXPECT_EQ(parse_message_type(("M1" + kSoh + "x" + kEtx).c_str(), payload, &kind),
            ERR_CODE_MISSING_PIPE_STX);
  EXPECT_EQ(WithoutLineNumbers(GetCapturedStdout()),
            "** ERROR: [_util/pipes_comm | parse_message_type | N] "
            "parse_message_type: ERR_CODE_MISSING_PIPE_STX\n");
  EXPECT_STREQ(payload, "untouched");
  EXPECT_EQ(kind, PipeMsgKind::E2);
}

TEST(PipeParse, UnknownMnemonicGivesMinusOneAndLeavesOutputs) {
  char payload[FRAME_SIZE] = "untouched";
  PipeMsgKind kind = PipeMsgKind::E2;
  for (const std::string& frame :
       {kStx + kEtx, kStx + "S11" + kEtx, kStx + "S100" + kEtx, kStx + "S" + kEtx,
        kStx + "s1" + kEtx, kStx + "M1x" + kSoh + "text" + kEtx, kStx + kSoh + "x" + kEtx}) {
    EXPECT_EQ(parse_message_type(frame.c_str(), payload, &kind), -1) << frame;
    EXPECT_STREQ(payload, "untouched");
    EXPECT_EQ(kind, PipeMsgKind::E2);
  }
}

TEST(PipeParse, BufferWithoutNulIsRefusedWithoutReadingPastIt) {
  Channel channel;
  std::fill(channel.frame.begin(), channel.frame.end(), 'A');
  channel.frame[0] = '\x02';
  channel.frame[FRAME_SIZE - 1] = '\x03';  // an ETX exactly at the end, but no NUL
  char payload[FRAME_SIZE] = "untouched";
  PipeMsgKind kind = PipeMsgKind::E2;
  CaptureStdout();
  EXPECT_EQ(parse_message_type(channel.frame.data(), payload, &kind), ERR_CODE_MISSING_PIPE_ETX);
  EXPECT_EQ(decode_string_message(&channel.text), ERR_CODE_MISSING_PIPE_ETX);
  EXPECT_EQ(decode_binary_data(&channel.binary), ERR_CODE_MISSING_PIPE_ETX);
  const std::string out = WithoutLineNumbers(GetCapturedStdout());
  EXPECT_NE(out.find("decode_string_message: ERR_CODE_MISSING_PIPE_ETX\n"), std::string::npos);
  EXPECT_NE(out.find("decode_binary_data: ERR_CODE_MISSING_PIPE_ETX\n"), std::string::npos);
  EXPECT_STREQ(payload, "untouched");
}

TEST(PipeSeparator, FindsIndexOrReportsMissingAndOutOfRange) {
  const std::string text = kStx + "M1" + kSoh + "ab" + kSoh + kEtx;
  EXPECT_EQ(find_pipe_separator(text.c_str(), 0, '\x01'), 3);
  EXPECT_EQ(find_pipe_separator(text.c_str(), 4, '\x01'), 6);
  EXPECT_EQ(find_pipe_separator(text.c_str(), 7, '\x01'), -1);
  EXPECT_EQ(find_pipe_separator(text.c_str(), 8, '\x01'), -2);
  EXPECT_EQ(find_pipe_separator(text.c_str(), 99, '\x01'), -2);
  EXPECT_EQ(find_pipe_separator(text.c_str(), -1, '\x01'), -2);
  EXPECT_EQ(find_pipe_separator("", 0, '\x01'), -2);
}

TEST(PipeDecodeString, SplitsMnemonicAndTextAndClearsFirst) {
  Channel channel;
  std::memset(channel.text.text, 'x', sizeof channel.text.text);
  channel.Load(kStx + "S7" + kSoh + "+1.0E+00" + kEtx);
  ASSERT_EQ(decode_string_message(&channel.text), 0);
  EXPECT_STREQ(channel.text.mnemonic, "S7");
  EXPECT_STREQ(channel.text.text, "+1.0E+00");
  EXPECT_EQ(channel.text.length, 8u);
  // Everything past the text is cleared, not left from before.
  EXPECT_EQ(channel.text.text[PIPE_TEXT_SIZE - 1], '\0');

  channel.Load(kStx + "S8" + kEtx);
  ASSERT_EQ(decode_string_message(&channel.text), 0);
  EXPECT_STREQ(channel.text.mnemonic, "S8");
  EXPECT_STREQ(channel.text.text, "");
  EXPECT_EQ(channel.text.length, 0u);
}

TEST(PipeDecodeString, SecondSohOrWrongKindIsBadKind) {
  Channel channel;
  channel.Load(kStx + "M1" + kSoh + "*CLS" + kSoh + "x" + kEtx);
  EXPECT_EQ(decode_string_message(&channel.text), ERR_CODE_PIPE_BAD_KIND);
  EXPECT_EQ(decode_M1_msg(&channel.text), ERR_CODE_PIPE_BAD_KIND);
  EXPECT_STREQ(channel.text.text, "");
  EXPECT_EQ(channel.text.length, 0u);

  channel.Load(kStx + "S9" + kEtx);
  EXPECT_EQ(decode_S8_msg(&channel.text), ERR_CODE_PIPE_BAD_KIND);
  EXPECT_EQ(decode_S9_msg(&channel.text), 0);
  EXPECT_EQ(channel.text.kind, static_cast<uint32_t>(PipeMsgKind::S9));
}

TEST(PipeDecodeString, OverlongMnemonicIsRefused) {
  Channel channel;
  channel.Load(kStx + std::string(300, 'M') + kSoh + "t" + kEtx);
  EXPECT_EQ(decode_string_message(&channel.text), ERR_CODE_PIPE_BAD_KIND);
  EXPECT_STREQ(channel.text.mnemonic, "");
  channel.Load(kStx + std::string(300, 'M') + kEtx);
  EXPECT_EQ(decode_string_message(&channel.text), ERR_CODE_PIPE_BAD_KIND);
  channel.Load(kStx + std::string(300, 'M') + kSoh + "1" + kEtx);
  EXPECT_EQ(decode_binary_data(&channel.binary), ERR_CODE_PIPE_BAD_KIND);
}

TEST(PipeDecodeBinary, ReadsHexFields) {
  Channel channel;
  channel.Load(kStx + "M3" + kSoh + "0" + kSoh + "20" + kSoh + "10" + kSoh + "44" + kEtx);
  ASSERT_EQ(decode_M3_msg(&channel.binary), 0);
  EXPECT_STREQ(channel.binary.mnemonic, "M3");
  ASSERT_EQ(channel.binary.count, 4);
  EXPECT_EQ(channel.binary.data[0], 0x00);
  EXPECT_EQ(channel.binary.data[1], 0x20);
  EXPECT_EQ(channel.binary.data[2], 0x10);
  EXPECT_EQ(channel.binary.data[3], 0x44);

  channel.Load(kStx + "S2" + kSoh + "ff" + kEtx);
  ASSERT_EQ(decode_S2_msg(&channel.binary), 0);
  EXPECT_EQ(channel.binary.data[0], 0xFF);
}

TEST(PipeDecodeBinary, MalformedFramesFailAndKeepLastGoodData) {
  Channel channel;
  channel.Load(kStx + "S3" + kSoh + "5A" + kEtx);
  ASSERT_EQ(decode_S3_msg(&channel.binary), 0);

  std::string too_many = kStx + "E3";
  for (int i = 0; i < 129; ++i) too_many += kSoh + "1";
  std::string just_enough = kStx + "E3";
  for (int i = 0; i < 128; ++i) just_enough += kSoh + "7F";

  const std::vector<std::string> garbage = {
      too_many + kEtx,
      kStx + "S3" + kSoh + "100" + kEtx,         // three digits
      kStx + "S3" + kSoh + "G1" + kEtx,          // not hex
      kStx + "S3" + kSoh + "-1" + kEtx,          // sign
      kStx + "S3" + kSoh + " 1" + kEtx,          // blank
      kStx + "S3" + kSoh + kEtx,                 // empty field
      kStx + "M3" + kSoh + "1" + kSoh + kSoh + "2" + kEtx,
      kStx + "S3" + kEtx,                        // no byte at all
  };
  for (const std::string& frame : garbage) {
    channel.Load(frame);
    EXPECT_EQ(decode_binary_data(&channel.binary), ERR_CODE_PIPE_BAD_KIND) << frame;
    EXPECT_EQ(channel.binary.count, 0);
    EXPECT_EQ(channel.binary.data[0], 0x5A);
  }

  channel.Load(just_enough + kEtx);
  ASSERT_EQ(decode_E3_msg(&channel.binary), 0);
  EXPECT_EQ(channel.binary.count, 128);
  EXPECT_EQ(channel.binary.data[127], 0x7F);
}

TEST(PipeDecode, MissingStxIsReportedByEachDecoder) {
  Channel channel;
  channel.Load("S1" + kEtx);
  CaptureStdout();
  EXPECT_EQ(decode_S1_msg(&channel.text), ERR_CODE_MISSING_PIPE_STX);
  EXPECT_EQ(decode_S3_msg(&channel.binary), ERR_CODE_MISSING_PIPE_STX);
  EXPECT_EQ(WithoutLineNumbers(GetCapturedStdout()),
            "** ERROR: [_util/pipes_comm | decode_string_message | N] "
            "decode_string_message: ERR_CODE_MISSING_PIPE_STX\n"
            "** ERROR: [_util/pipes_comm | decode_binary_data | N] "
            "decode_binary_data: ERR_CODE_MISSING_PIPE_STX\n");
}

TEST(PipeEncode, BinaryFramesUseUpperCaseHexWithoutLeadingZero) {
  Channel channel;
  channel.binary.count = 1;
  channel.binary.data[0] = 0x50;
  ASSERT_EQ(encode_S3_msg(&channel.binary), 0);
  EXPECT_EQ(std::string(channel.frame.data(), 8), kStx + "S3" + kSoh + "50" + kEtx + '\0');
  channel.binary.data[0] = 5;
  ASSERT_EQ(encode_S3_msg(&channel.binary), 0);
  EXPECT_EQ(std::string(channel.frame.data(), 7), kStx + "S3" + kSoh + "5" + kEtx + '\0');
  EXPECT_EQ(channel.binary.kind, static_cast<uint32_t>(PipeMsgKind::S3));
  EXPECT_STREQ(channel.binary.mnemonic, "S3");

  channel.binary.count = 4;
  const uint8_t status[] = {0x00, 0x20, 0x10, 0x44};
  std::memcpy(channel.binary.data, status, 4);
  ASSERT_EQ(encode_M3_msg(&channel.binary), 0);
  EXPECT_EQ(channel.Frame(),
            kStx + "M3" + kSoh + "0" + kSoh + "20" + kSoh + "10" + kSoh + "44" + kEtx);

  channel.binary.count = 1;
  channel.binary.data[0] = 0xab;
  ASSERT_EQ(encode_E4_msg(&channel.binary), 0);
  EXPECT_EQ(channel.Frame(), kStx + "E4" + kSoh + "AB" + kEtx);
}

TEST(PipeEncode, BinaryByteCountOutsideOneTo128IsRefused) {
  Channel channel;
  channel.Load("before");
  for (int32_t count : {0, -1, 129}) {
    channel.binary.count = count;
    CaptureStdout();
    EXPECT_EQ(encode_E3_msg(&channel.binary), ERR_CODE_PIPE_OVERFLOW) << count;
    EXPECT_NE(GetCapturedStdout().find("encode_E3_msg"), std::string::npos);
    EXPECT_EQ(channel.Frame(), "before");
  }
}

TEST(PipeEncode, StringFramesWithAndWithoutText) {
  Channel channel;
  ASSERT_EQ(encode_M1_msg(&channel.text, "*IDN?\n"), 0);
  EXPECT_EQ(channel.Frame(), kStx + "M1" + kSoh + "*IDN?\n" + kEtx);
  EXPECT_EQ(channel.text.length, 6u);
  EXPECT_EQ(channel.text.kind, static_cast<uint32_t>(PipeMsgKind::M1));

  channel.text.length = 99;
  ASSERT_EQ(encode_S1_msg(&channel.text), 0);
  EXPECT_EQ(std::string(channel.frame.data(), 5), kStx + "S1" + kEtx + '\0');
  EXPECT_EQ(channel.text.length, 0u);
  EXPECT_STREQ(channel.text.mnemonic, "S1");

  ASSERT_EQ(encode_S10_msg(&channel.text), 0);
  EXPECT_EQ(channel.Frame(), kStx + "S10" + kEtx);

  // Text kinds keep their SOH even when the text is empty.
  for (auto encode : {static_cast<int (*)(PipeMessage*, const char*)>(encode_M1_msg),
                      static_cast<int (*)(PipeMessage*, const char*)>(encode_M2_msg),
                      static_cast<int (*)(PipeMessage*, const char*)>(encode_S6_msg),
                      static_cast<int (*)(PipeMessage*, const char*)>(encode_S7_msg)}) {
    ASSERT_EQ(encode(&channel.text, ""), 0);
    EXPECT_EQ(channel.Frame().substr(3), kSoh + kEtx);
  }
  ASSERT_EQ(decode_S7_msg(&channel.text), 0);
  EXPECT_STREQ(channel.text.text, "");

  // The record's own text works as the source too.
  std::strcpy(channel.text.text, "0,\"No error\"");
  ASSERT_EQ(encode_M2_msg(&channel.text), 0);
  EXPECT_EQ(channel.Frame(), kStx + "M2" + kSoh + "0,\"No error\"" + kEtx);
  ASSERT_EQ(encode_S6_msg(&channel.text, channel.text.text), 0);
  EXPECT_EQ(channel.Frame(), kStx + "S6" + kSoh + "0,\"No error\"" + kEtx);
}

TEST(PipeEncode, S7TakesAtMost10240Characters) {
  Channel channel;
  const std::string fits(10240, 'r');
  ASSERT_EQ(encode_S7_msg(&channel.text, fits.c_str()), 0);
  EXPECT_EQ(channel.Frame(), kStx + "S7" + kSoh + fits + kEtx);
  EXPECT_EQ(channel.Frame().size() + 1, FRAME_SIZE);
  ASSERT_EQ(decode_S7_msg(&channel.text), 0);
  EXPECT_EQ(channel.text.length, 10240u);

  channel.Load("before");
  const std::string too_long(10241, 'r');
  CaptureStdout();
  EXPECT_EQ(encode_S7_msg(&channel.text, too_long.c_str()), ERR_CODE_PIPE_OVERFLOW);
  EXPECT_EQ(WithoutLineNumbers(GetCapturedStdout()),
            "** ERROR: [_util/pipes_comm | encode_S7_msg | N] "
            "encode_S7_msg: error - pipe overflow deletected\n");
  EXPECT_EQ(channel.Frame(), "before");

  // The same limit holds when the text is already in the record.
  std::memset(channel.text.text, 'r', 10241);
  channel.text.text[10241] = '\0';
  CaptureStdout();
  EXPECT_EQ(encode_S7_msg(&channel.text), ERR_CODE_PIPE_OVERFLOW);
  GetCapturedStdout();
  EXPECT_EQ(channel.Frame(), "before");
}

TEST(PipeEncode, EveryTextKindRefusesWhatCannotFitTheFrame) {
  Channel channel;
  channel.Load("before");
  // A record text with no NUL at all, and a given text far beyond the record's size.
  std::memset(channel.text.text, 'q', sizeof channel.text.text);
  const std::string huge(3 * FRAME_SIZE, 'q');
  CaptureStdout();
  EXPECT_EQ(encode_M1_msg(&channel.text), ERR_CODE_PIPE_OVERFLOW);
  EXPECT_EQ(encode_M1_msg(&channel.text, huge.c_str()), ERR_CODE_PIPE_OVERFLOW);
  EXPECT_EQ(encode_M2_msg(&channel.text, huge.c_str()), ERR_CODE_PIPE_OVERFLOW);
  EXPECT_EQ(encode_S6_msg(&channel.text, huge.c_str()), ERR_CODE_PIPE_OVERFLOW);
  const std::string out = WithoutLineNumbers(GetCapturedStdout());
  EXPECT_NE(out.find("[_util/pipes_comm | encode_M2_msg | N] encode_M2_msg: error - pipe overflow"),
            std::string::npos);
  EXPECT_EQ(channel.Frame(), "before");
}

// Every kind, encoded and then taken back by the receiver's path: parse for the
// kind, decode with that kind's decoder; another kind's decoder refuses the frame.
struct TextKind {
  PipeMsgKind kind;
  const char* mnemonic;
  int (*encode)(PipeMessage*);
  int (*decode)(PipeMessage*);
  bool carries_text;
};

struct BinaryKind {
  PipeMsgKind kind;
  const char* mnemonic;
  int (*encode)(PipeBinaryMessage*);
  int (*decode)(PipeBinaryMessage*);
  int32_t count;
};

const TextKind kTextKinds[] = {
    {PipeMsgKind::M1, "M1", encode_M1_msg, decode_M1_msg, true},
    {PipeMsgKind::M2, "M2", encode_M2_msg, decode_M2_msg, true},
    {PipeMsgKind::S1, "S1", encode_S1_msg, decode_S1_msg, false},
    {PipeMsgKind::S6, "S6", encode_S6_msg, decode_S6_msg, true},
    {PipeMsgKind::S7, "S7", encode_S7_msg, decode_S7_msg, true},
    {PipeMsgKind::S8, "S8", encode_S8_msg, decode_S8_msg, false},
    {PipeMsgKind::S9, "S9", encode_S9_msg, decode_S9_msg, false},
    {PipeMsgKind::S10, "S10", encode_S10_msg, decode_S10_msg, false},
    {PipeMsgKind::E1, "E1", encode_E1_msg, decode_E1_msg, false},
    {PipeMsgKind::E2, "E2", encode_E2_msg, decode_E2_msg, false},
};

const BinaryKind kBinaryKinds[] = {
    {PipeMsgKind::M3, "M3", encode_M3_msg, decode_M3_msg, 4},
    {PipeMsgKind::S2, "S2", encode_S2_msg, decode_S2_msg, 1},
    {PipeMsgKind::S3, "S3", encode_S3_msg, decode_S3_msg, 1},
    {PipeMsgKind::S4, "S4", encode_S4_msg, decode_S4_msg, 1},
    {PipeMsgKind::S5, "S5", encode_S5_msg, decode_S5_msg, 1},
    {PipeMsgKind::E3, "E3", encode_E3_msg, decode_E3_msg, 13},
    {PipeMsgKind::E4, "E4", encode_E4_msg, decode_E4_msg, 1},
    {PipeMsgKind::E5, "E5", encode_E5_msg, decode_E5_msg, 1},
    {PipeMsgKind::E6, "E6", encode_E6_msg, decode_E6_msg, 1},
};

TEST(PipeRoundTrip, EveryTextKind) {
  static_assert(std::size(kTextKinds) + std::size(kBinaryKinds) == 19);
  Channel sender;
  Channel receiver;
  for (const TextKind& k : kTextKinds) {
    SCOPED_TRACE(k.mnemonic);
    std::strcpy(sender.text.text, "ROUT:CLOS (@1(2))\n");
    ASSERT_EQ(k.encode(&sender.text), 0);
    EXPECT_EQ(sender.text.kind, static_cast<uint32_t>(k.kind));
    EXPECT_STREQ(pipe_kind_mnemonic(sender.text.kind), k.mnemonic);
    receiver.Load(sender.Frame());

    PipeMsgKind kind{};
    ASSERT_EQ(parse_message_type(receiver.frame.data(), nullptr, &kind), 0);
    EXPECT_EQ(kind, k.kind);
    ASSERT_EQ(k.decode(&receiver.text), 0);
    EXPECT_STREQ(receiver.text.mnemonic, k.mnemonic);
    EXPECT_STREQ(receiver.text.text, k.carries_text ? "ROUT:CLOS (@1(2))\n" : "");
    for (const TextKind& other : kTextKinds) {
      if (other.kind != k.kind) {
        EXPECT_EQ(other.decode(&receiver.text), ERR_CODE_PIPE_BAD_KIND);
      }
    }
  }
}

TEST(PipeRoundTrip, EveryBinaryKind) {
  Channel sender;
  Channel receiver;
  for (const BinaryKind& k : kBinaryKinds) {
    SCOPED_TRACE(k.mnemonic);
    sender.binary.count = k.count;
    for (int32_t i = 0; i < k.count; ++i) sender.binary.data[i] = static_cast<uint8_t>(i * 37 + 3);
    ASSERT_EQ(k.encode(&sender.binary), 0);
    receiver.Load(sender.Frame());

    PipeMsgKind kind{};
    ASSERT_EQ(parse_message_type(receiver.frame.data(), nullptr, &kind), 0);
    EXPECT_EQ(kind, k.kind);
    ASSERT_EQ(k.decode(&receiver.binary), 0);
    EXPECT_STREQ(receiver.binary.mnemonic, k.mnemonic);
    ASSERT_EQ(receiver.binary.count, k.count);
    EXPECT_EQ(std::memcmp(receiver.binary.data, sender.binary.data, k.count), 0);
    for (const BinaryKind& other : kBinaryKinds) {
      if (other.kind != k.kind) {
        EXPECT_EQ(other.decode(&receiver.binary), ERR_CODE_PIPE_BAD_KIND);
      }
    }
  }
  EXPECT_EQ(pipe_kind_mnemonic(0), nullptr);
  EXPECT_EQ(pipe_kind_mnemonic(20), nullptr);
}

}  // namespace

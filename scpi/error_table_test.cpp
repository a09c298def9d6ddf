// Checks of the error table: its size and order, the exact texts clients match on
// (odd blanks and spellings included), and the lookup by code.
#include "scpi/error_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string TextOf(int32_t code) {
  const ErrorEntry* entry = FindErrorEntry(code);
  return entry == nullptr ? std::string("<absent>") : std::string(entry->text);
}

TEST(ErrorTable, HoldsEveryEntryInOrder) {
  EXPECT_EQ(kErrorTableSize, 449u);
  EXPECT_EQ(kErrorTable[0].code, 0);
  EXPECT_STREQ(kErrorTable[0].text, "No error");
  EXPECT_EQ(kErrorTable[1].code, -100);
  EXPECT_EQ(kErrorTable[kErrorTableSize - 1].code, -999);
  EXPECT_STREQ(kErrorTable[kErrorTableSize - 1].text, "Error: method not implemented yet");
  // The internal errors follow the standard codes and run 901..939 without a gap.
  const ErrorEntry* first_internal = FindErrorEntry(901);
  ASSERT_NE(first_internal, nullptr);
  EXPECT_EQ(first_internal[-1].code, -440);
  for (int32_t n = 1; n <= 39; ++n) {
    EXPECT_EQ(first_internal[n - 1].code, 900 + n);
    EXPECT_EQ(first_internal[n - 1].text, "Internal error #" + std::to_string(n));
  }
  EXPECT_EQ(first_internal[39].code, -10201);
  // Device-specific codes keep their listed order, not numeric order.
  EXPECT_EQ(FindErrorEntry(-10212) + 1, FindErrorEntry(-10204));
  EXPECT_EQ(FindErrorEntry(-3000001) + 1, FindErrorEntry(-3000002));
}

TEST(ErrorTable, TextsAreExact) {
  EXPECT_EQ(TextOf(-113), "Undefined header");
  EXPECT_EQ(TextOf(-224), "illegal parameter value");
  EXPECT_EQ(TextOf(-440), "Query UNTERMINATED after indefinite response");
  EXPECT_EQ(TextOf(926), "Internal error #26");
  EXPECT_EQ(TextOf(-10201), "Syntax error ; missing left parenthesis");
  EXPECT_EQ(TextOf(-10236),
            "Syntax error; size of data list does not equal to size of channel list");
  EXPECT_EQ(TextOf(-10209), "Syntax error ; missing comma ");
  EXPECT_EQ(TextOf(-22211),
            "Data out of range ; SEQuence ALARMHI/ALARMLO  value is out of range");
  EXPECT_EQ(TextOf(-20043), "Execution error ; SEQuence CALL tree is too deep (maximum = 40)");
  EXPECT_EQ(TextOf(-20097),
            "Execution error ; reacll of module names from nonvolatile memoryfailed");
  EXPECT_EQ(TextOf(-30013),
            "Device-specifiec error ; cannot create directory in the nonvolatile memory storage");
  EXPECT_EQ(TextOf(-204), "Execution error; non-volatile memory update in progress");
  EXPECT_EQ(TextOf(-30001), "Unknown relay module type");
  EXPECT_EQ(TextOf(-3000002),
            "Execution error ; the digitizer calibration data for channel 2 is not valid");
}

TEST(ErrorTable, NamedCodesFindTheirTexts) {
  // One name from each group, plus a text split across literals in the list.
  EXPECT_EQ(err::kIllegalParameterValue, -224);
  EXPECT_EQ(TextOf(err::kIllegalParameterValue), "illegal parameter value");
  EXPECT_EQ(err::kInternalError26, 926);
  EXPECT_EQ(TextOf(err::kInternalError26), "Internal error #26");
  EXPECT_EQ(err::kSlotOutOfRange, -22202);
  EXPECT_EQ(TextOf(err::kSlotOutOfRange), "Data out of range ; module number is out of range");
  EXPECT_EQ(err::kScanListStoreFailed, -20062);
  EXPECT_EQ(TextOf(err::kScanListStoreFailed),
            "Execution error ; attempt to store SCAN list failed");
  EXPECT_EQ(err::kTriggerLevelOutsideWindow, -30097);
  EXPECT_EQ(TextOf(err::kTriggerLevelOutsideWindow),
            "Execution error ; the trigger level is outside the valid window "
            "(Offset - Range) to (Offset + Range)");
  EXPECT_EQ(err::kNotImplemented, -999);
  EXPECT_EQ(TextOf(err::kNotImplemented), "Error: method not implemented yet");
  EXPECT_EQ(&kErrorTable[kErrorTableSize - 1], FindErrorEntry(err::kNotImplemented));
  // Entries sharing a text keep their own codes under their own names.
  EXPECT_EQ(err::kExpressionCommandError, -170);
  EXPECT_EQ(err::kExpressionError, -260);
  EXPECT_EQ(TextOf(err::kExpressionCommandError), TextOf(err::kExpressionError));
}

TEST(ErrorTable, EveryTextIsPrintableWithoutLineBreaks) {
  // A text goes into a quoted "%d,\"%s\"" reply: a quote or control byte would break it.
  for (size_t i = 0; i < kErrorTableSize; ++i) {
    const char* text = kErrorTable[i].text;
    ASSERT_NE(text, nullptr) << i;
    EXPECT_GT(std::strlen(text), 0u) << kErrorTable[i].code;
    for (const char* p = text; *p != '\0'; ++p) {
      EXPECT_TRUE(*p >= ' ' && *p <= '~' && *p != '"') << kErrorTable[i].code;
    }
  }
}

TEST(ErrorTable, LookupFindsTheListedTextOrNothing) {
  // Codes that once stood in the table twice resolve to the text users see.
  EXPECT_EQ(TextOf(-10210), "Syntax error ; missing module number or name");
  EXPECT_EQ(TextOf(-10214), "Syntax error ; too many modules specified");
  EXPECT_EQ(TextOf(-292), "Referenced name does not exist");
  EXPECT_EQ(TextOf(-293), "Referenced name already exists");
  EXPECT_EQ(FindErrorEntry(-12345), nullptr);
  EXPECT_EQ(FindErrorEntry(940), nullptr);
  EXPECT_EQ(FindErrorEntry(-926), nullptr);  // internal errors are stored positive
  EXPECT_EQ(FindErrorEntry(1), nullptr);
}

}  // namespace

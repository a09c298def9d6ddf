// Tests of SharedBlock: size limits, the not-attached case, sharing between two
// attachments, and that each chassis root gets an object of its own.
#include "core/shared_block.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Gives each test its own chassis root, hence its own shared memory object, and
// removes the object afterwards.
class SharedBlockTest : public testing::Test {
 protected:
  void SetUp() override { UseRoot("a"); }
  void TearDown() override {
    SharedBlock::Unlink();
    unsetenv("CHASSIS_ROOT");
  }
  void UseRoot(const char* tag) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string root = "/tmp/shared_block_test." + std::to_string(getpid()) + "." +
                       test->name() + "." + tag;
    setenv("CHASSIS_ROOT", root.c_str(), 1);
  }
};

TEST_F(SharedBlockTest, NotAttachedGivesMinusOne) {
  SharedBlock block;
  char byte = 0;
  EXPECT_EQ(block.Address(), nullptr);
  EXPECT_EQ(block.WriteIn(&byte, 1), -1);
  EXPECT_EQ(block.ReadOut(&byte, 1), -1);
  ASSERT_EQ(block.Attach(), 0);
  block.Detach();
  EXPECT_EQ(block.Address(), nullptr);
  EXPECT_EQ(block.ReadOut(&byte, 1), -1);
}

TEST_F(SharedBlockTest, LengthIsCheckedAgainstOneMebibyte) {
  SharedBlock block;
  ASSERT_EQ(block.Attach(), 0);
  ASSERT_NE(block.Address(), nullptr);
  std::vector<unsigned char> data(SHARED_BLOCK_SIZE + 1, 0xA5);
  data[SHARED_BLOCK_SIZE - 1] = 0x5A;
  EXPECT_EQ(block.WriteIn(data.data(), 0x100000), 0);
  EXPECT_EQ(block.Address()[SHARED_BLOCK_SIZE - 1], 0x5A);
  EXPECT_EQ(block.WriteIn(data.data(), 0x100001), -2);
  EXPECT_EQ(block.WriteIn(data.data(), -1), -2);
  EXPECT_EQ(block.ReadOut(data.data(), 0x100001), -2);
  EXPECT_EQ(block.ReadOut(data.data(), -5), -2);
  EXPECT_EQ(block.WriteIn(data.data(), 0), 0);

  std::vector<unsigned char> back(SHARED_BLOCK_SIZE, 0);
  EXPECT_EQ(block.ReadOut(back.data(), 0x100000), 0);
  EXPECT_EQ(back[0], 0xA5);
  EXPECT_EQ(back[SHARED_BLOCK_SIZE - 1], 0x5A);
}

TEST_F(SharedBlockTest, TwoAttachmentsShareOneObjectAndOtherRootsDoNot) {
  SharedBlock writer;
  SharedBlock reader;
  ASSERT_EQ(writer.Attach(), 0);
  ASSERT_EQ(writer.Attach(), 0);  // attaching again changes nothing
  ASSERT_EQ(reader.Attach(), 0);
  const char message[] = "block transfer";
  ASSERT_EQ(writer.WriteIn(message, sizeof message), 0);
  char seen[sizeof message] = {};
  ASSERT_EQ(reader.ReadOut(seen, sizeof seen), 0);
  EXPECT_STREQ(seen, message);

  UseRoot("b");
  SharedBlock elsewhere;
  ASSERT_EQ(elsewhere.Attach(), 0);
  char other[sizeof message] = {};
  ASSERT_EQ(elsewhere.ReadOut(other, sizeof other), 0);
  EXPECT_STRNE(other, message);
  elsewhere.Detach();
  EXPECT_EQ(SharedBlock::Unlink(), 0);
  UseRoot("a");
}

TEST_F(SharedBlockTest, UnlinkRemovesTheObject) {
  {
    SharedBlock block;
    ASSERT_EQ(block.Attach(), 0);
    const char marker[] = "stale";
    ASSERT_EQ(block.WriteIn(marker, sizeof marker), 0);
  }
  EXPECT_EQ(SharedBlock::Unlink(), 0);
  EXPECT_EQ(SharedBlock::Unlink(), -1);
  SharedBlock fresh;
  ASSERT_EQ(fresh.Attach(), 0);
  EXPECT_EQ(fresh.Address()[0], 0);  // a new object starts zeroed
}

}  // namespace

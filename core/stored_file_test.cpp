// Stored files are replaced whole and read back whole, under the chassis root.
#include "core/stored_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/test_support.h"

namespace {

class StoredFile : public ::testing::Test {
 protected:
  platform::TempFolder root_;
  platform::ScopedEnv env_{"CHASSIS_ROOT", root_.path().c_str()};
};

TEST_F(StoredFile, StoreMakesTheFoldersAndRecallReadsAWholeLongFileBack) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "(@4(1),4(2),4(3))";  // one 85,000-character line
  text += "\nNONE";
  ASSERT_EQ(ReplaceStoredFile("/mnt/nonv/config/a/b/list.lst", text), 0);
  std::string back;
  ASSERT_EQ(ReadStoredFile("/mnt/nonv/config/a/b/list.lst", &back), StoredFileRead::kRead);
  EXPECT_EQ(back, text);
  // Nothing but the file itself is left beside it.
  int entries = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(root_.path() + "/mnt/nonv/config/a/b")) {
    EXPECT_EQ(entry.path().filename(), "list.lst");
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(StoredFile, AStoreReplacesTheOldFileAndAFailedOneLeavesItAlone) {
  ASSERT_EQ(ReplaceStoredFile("/mnt/nonv/x", "a much longer first text"), 0);
  ASSERT_EQ(ReplaceStoredFile("/mnt/nonv/x", "short"), 0);
  std::string back;
  ASSERT_EQ(ReadStoredFile("/mnt/nonv/x", &back), StoredFileRead::kRead);
  EXPECT_EQ(back, "short");

  // A folder standing where the temporary file must go makes the store fail.
  ASSERT_EQ(mkdir((root_.path() + "/mnt/nonv/x.tmp").c_str(), 0775), 0);
  EXPECT_EQ(ReplaceStoredFile("/mnt/nonv/x", "new"), -1);
  ASSERT_EQ(ReadStoredFile("/mnt/nonv/x", &back), StoredFileRead::kRead);
  EXPECT_EQ(back, "short");
}

TEST_F(StoredFile, RecallTellsAMissingFileFromAnUnreadableOne) {
  std::string back = "old";
  EXPECT_EQ(ReadStoredFile("/mnt/nonv/none", &back), StoredFileRead::kMissing);
  EXPECT_EQ(back, "");
  ASSERT_EQ(MakeStoredFolder("/mnt/nonv/folder"), 0);
  EXPECT_EQ(ReadStoredFile("/mnt/nonv/folder", &back), StoredFileRead::kFailed);
  // A file where a folder must go.
  ASSERT_EQ(ReplaceStoredFile("/mnt/nonv/plain", ""), 0);
  EXPECT_EQ(ReplaceStoredFile("/mnt/nonv/plain/inner", "x"), -1);
}

}  // namespace

// Card web controls as installation builds them in a fresh chassis root: the chassis
// and card folders file by file and link by link, the window size of cards sized from
// their own channel tables, cards without a panel, and the refusals.
#include "cards/web_controls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cards/card_manager.h"
#include "hardware/hardware_test_support.h"
#include "platform/test_support.h"
#include "scpi/error_codes.h"
#include "sim/card_models.h"

namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

class WebControlsTest : public SimulatedHardwareTest {
 protected:
  void SetUp() override {
    SimulatedHardwareTest::SetUp();
    ResetCardsForTest();
    testing::internal::CaptureStdout();
  }
  // What installation printed since the last call.
  static std::string Output() {
    const std::string output = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    return output;
  }
  void TearDown() override {
    testing::internal::GetCapturedStdout();
    ResetCardsForTest();
    SimulatedHardwareTest::TearDown();
  }

  // Installs card 0x7C40 whose EPROM holds `channels` and `module_id` (and `descriptor`
  // as its first function descriptor).
  int32_t InstallDownloaded(int slot, std::vector<uint16_t> channels, const char* module_id,
                            uint16_t descriptor = 0, uint32_t own_code_data = 0) {
    sim::EpromBlock block;
    block.own_code_data = own_code_data;
    block.module_id = module_id;
    block.type_id = 0x7C40;
    block.channel_count = static_cast<uint16_t>(channels.size());
    block.channel_table = std::move(channels);
    block.confidence_mask.assign(block.channel_count / 8 + 1, 0xFF);
    block.function_descriptors[0] = descriptor;
    sim::CardTraits traits{.model = "TEST", .type_id = 0x7C40,
                           .eprom = sim::BuildEpromImage(block)};
    traits.drive_bytes = static_cast<int>(block.confidence_mask.size());
    EXPECT_FALSE(traits.eprom.empty());
    xbus_->Plug(slot, std::make_shared<sim::CardModel>(traits));
    return InstallCard(slot, 0x7C40);
  }

  fs::path Folder(const std::string& name) { return root_.path() + "/var/www/controls/" + name; }
  std::string Text(const std::string& folder, const char* name) {
    std::ostringstream text;
    text << std::ifstream(Folder(folder) / name).rdbuf();
    return text.str();
  }
  Names Entries(const std::string& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(Folder(folder))) {
      names.insert(entry.path().filename());
    }
    return names;
  }

  platform::TempFolder root_;
  platform::ScopedEnv env_{"CHASSIS_ROOT", root_.path().c_str()};
};

TEST_F(WebControlsTest, ChassisPanelLivesInSystemWithoutSlotFile) {
  ASSERT_EQ(InstallCard(0, kChassisTypeId), 0);
  EXPECT_FALSE(fs::exists(Folder("slot0")));
  EXPECT_FALSE(fs::exists(Folder("system") / "slot"));
  EXPECT_EQ(Text("system", "model"), "4410X System");
  EXPECT_EQ(Text("system", "archive"),
            "DPSTrelay.jar, MatrixSwitch.jar, StatefulControls.jar, swing-layout-1.0.4.jar, "
            "LXIControl.jar, SystemControl_4410X.jar");
  EXPECT_EQ(Text("system", "class") + " " + Text("system", "width") + "x" +
                Text("system", "height"),
            "SystemCtrl 610x768");
}

TEST_F(WebControlsTest, CardFolderHoldsExactlyItsFilesAndLinksReplacingOldOnes) {
  fs::create_directories(Folder("slot3"));
  fs::create_symlink("/elsewhere", Folder("slot3") / "index.php");
  std::ofstream(Folder("slot3") / "model") << "SM-OLD\n";
  xbus_->Plug(3, sim::MakeCardModel("SM-MX26Q"));
  ASSERT_EQ(InstallCard(3, 0x7A13), 0);

  const Names archives = {"ScpiPanel.jar", "StatefulControls.jar", "swing-layout-1.0.4.jar",
                          "LXIControl.jar", "SM-MX26Q.jar", "index.php"};
  Names expected = {"slot", "model", "archive", "class", "height", "width"};
  expected.insert(archives.begin(), archives.end());
  EXPECT_EQ(Entries("slot3"), expected);
  EXPECT_EQ(Text("slot3", "slot") + "|" + Text("slot3", "model") + "|" + Text("slot3", "class") +
                "|" + Text("slot3", "width") + "|" + Text("slot3", "height"),
            "3|SM-MX26Q|MainForm|765|650");
  EXPECT_EQ(Text("slot3", "archive"),
            "ScpiPanel.jar, StatefulControls.jar, swing-layout-1.0.4.jar, LXIControl.jar, "
            "SM-MX26Q.jar");
  for (const std::string& name : archives) {
    EXPECT_EQ(fs::read_symlink(Folder("slot3") / name), root_.path() + "/lib/webctrls/" + name);
  }
}

TEST_F(WebControlsTest, GenericCardIsSizedFromItsChannelRuns) {
  std::vector<uint16_t> wrapping(40);  // one run of 40: rows of 16
  std::iota(wrapping.begin(), wrapping.end(), 0);
  std::vector<uint16_t> scattered(300);  // 300 runs of one, a column apart: nine to a row
  for (size_t i = 0; i < scattered.size(); ++i) scattered[i] = static_cast<uint16_t>(2 * i);
  const std::pair<std::vector<uint16_t>, const char*> cases[] = {
      {{0, 1, 2, 3, 4, 5, 6, 7}, "550x220"},  // continues the run before channel 0
      {{1, 2, 3, 4, 5, 6, 7, 8}, "610x220"},  // opens a run, one column in
      {{0, 1, 2, 3, 4, 10, 11, 12, 13, 14, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29}, "730x250"},
      {wrapping, "1030x280"},
      {scattered, "1090x1210"},
  };
  for (const auto& [channels, size] : cases) {
    ResetCardsForTest();
    ASSERT_EQ(InstallDownloaded(5, channels, "XY-GEN SIZED CARD"), 0);
    EXPECT_EQ(Text("slot5", "model") + " " + Text("slot5", "class"), "XY-GEN MainForm");
    EXPECT_EQ(Text("slot5", "width") + "x" + Text("slot5", "height"), size) << channels.size();
  }
}

TEST_F(WebControlsTest, CardsWithoutPanelGetOnlyTheirModel) {
  ASSERT_EQ(InstallDownloaded(6, {0, 1}, "ABCDEFGHIJKLMNOP SIXTEEN LETTERS", 9), 0);
  xbus_->Plug(7, sim::MakeCardModel("SM-CT1"));
  ASSERT_EQ(InstallCard(7, 0x7A12), 0);
  EXPECT_EQ(Text("slot6", "model"), "ABCDEFGHIJKL (Not supported)");
  EXPECT_EQ(Text("slot7", "model"), "SM-CT1 (No page)");
  for (const char* folder : {"slot6", "slot7"}) {
    EXPECT_EQ(Entries(folder), (Names{"index.php", "slot", "model"})) << folder;
  }
}

// Refusals: a slot outside the chassis, a type without a row (logged, the card stays
// installed, no folder) and a card whose identity cannot be read.
TEST_F(WebControlsTest, RefusalsLeaveNoPanelButTheCardInstalled) {
  EXPECT_EQ(InstallCardWebControl(0x7A01, 13), err::kSlotOutOfRange);
  EXPECT_EQ(InstallCardWebControl(0x7A01, -1), err::kSlotOutOfRange);
  EXPECT_FALSE(fs::exists(Folder("")));

  Output();
  EXPECT_EQ(InstallDownloaded(8, {0, 1}, "XY-OWN OWN PANEL", 0, 1), 0);  // keeps its own id
  EXPECT_THAT(Output(), testing::MatchesRegex(
                            " Card in slot 8 = 0x7c40\n\\*\\* ERROR: \\[_cards/webctrl_utils \\| "
                            "InstallCardWebControl \\| [0-9]+\\] Could not find the web controls "
                            "for card id 0x7c40\n"));
  EXPECT_EQ(IsCardPresent(8), 1);
  EXPECT_FALSE(fs::exists(Folder("slot8")));

  CardRecord* record = CardSlotRecord(4);
  record->present = 1;
  record->operations.GetIdentity = [](int, char*, char*, char*, char*, char*) {
    return err::kNoModule;
  };
  EXPECT_EQ(InstallCardWebControl(kGenericTypeId, 4), err::kNoModule);
  EXPECT_EQ(Entries("slot4"), (Names{"index.php", "slot"}));
}

}  // namespace

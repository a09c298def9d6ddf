// The web control table and the folder each installed card gets under
// /var/www/controls: the index.php link, slot, model, archive and class files, one link
// per archive into /lib/webctrls, and the window size. The files are plain text without
// a line feed, each replaced whole; links are made beside their name and renamed over
// it. Every fixed path goes through the chassis root.
#include "cards/web_controls.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "cards/card_manager.h"
#include "core/diag_print.h"
#include "core/stored_file.h"
#include "platform/paths.h"
#include "scpi/error_codes.h"

namespace {

constexpr char kSource[] = "_cards/webctrl_utils";
constexpr char kControlsFolder[] = "/var/www/controls";
constexpr char kArchiveFolder[] = "/lib/webctrls";

// The archives every card panel runs on, followed by the card's own.
#define CARD_PANEL_ARCHIVES(card_archive) \
  "ScpiPanel.jar, StatefulControls.jar, swing-layout-1.0.4.jar, LXIControl.jar, " card_archive

constexpr WebControlEntry kWebControls[] = {
    {.type_id = 0x7A00,
     .model = "4410X System",
     .archives = "DPSTrelay.jar, MatrixSwitch.jar, StatefulControls.jar, swing-layout-1.0.4.jar, "
                 "LXIControl.jar, SystemControl_4410X.jar",
     .entry_class = "SystemCtrl",
     .width = 610,
     .height = 768},
    {.type_id = 0x7A01, .model = "SM-RD96", .archives = CARD_PANEL_ARCHIVES("SM-RD.jar"),
     .entry_class = "MainForm", .width = 460, .height = 580},
    {.type_id = 0x7A02, .model = "SM-RD48", .archives = CARD_PANEL_ARCHIVES("SM-RD.jar"),
     .entry_class = "MainForm", .width = 460, .height = 580},
    {.type_id = 0x7A03, .model = "SM-MX52", .archives = CARD_PANEL_ARCHIVES("SM-MX52.jar"),
     .entry_class = "MainForm", .width = 700, .height = 700},
    {.type_id = 0x7A04, .model = "SM-SW80", .archives = CARD_PANEL_ARCHIVES("SM-SW80.jar"),
     .entry_class = "MainForm", .width = 700, .height = 700},
    {.type_id = 0x7A05, .model = "SM-SW20", .archives = CARD_PANEL_ARCHIVES("SM-SW20.jar"),
     .entry_class = "MainForm", .width = 700, .height = 725},
    {.type_id = 0x7A13, .model = "SM-MX26Q", .archives = CARD_PANEL_ARCHIVES("SM-MX26Q.jar"),
     .entry_class = "MainForm", .width = 765, .height = 650},
    {.type_id = 0x7A10, .model = "SM-MX12H", .archives = CARD_PANEL_ARCHIVES("SM-MX12H.jar"),
     .entry_class = "MainForm", .width = 1015, .height = 805},
    {.type_id = 0x7A06, .model = "SM-SC64", .archives = CARD_PANEL_ARCHIVES("SM-SC64.jar"),
     .entry_class = "MainForm", .width = 745, .height = 640},
    {.type_id = 0x7A0B, .model = "SM-MT9Q", .archives = CARD_PANEL_ARCHIVES("SM-MT9Q.jar"),
     .entry_class = "MainForm145", .width = 800, .height = 700},
    {.type_id = 0x7A0C, .model = "SM-MT3W", .archives = CARD_PANEL_ARCHIVES("SM-MT3W.jar"),
     .entry_class = "MainForm145", .width = 800, .height = 700},
    {.type_id = 0x7A0D, .model = "SM-MT2W", .archives = CARD_PANEL_ARCHIVES("SM-MT2W.jar"),
     .entry_class = "MainForm145", .width = 460, .height = 755},
    {.type_id = 0x7A09, .model = "SM-MT436", .archives = CARD_PANEL_ARCHIVES("SM-MT436.jar"),
     .entry_class = "MainForm145", .width = 800, .height = 700},
    {.type_id = 0x7A0E, .model = "SM-MT2E", .archives = CARD_PANEL_ARCHIVES("SM-MT2E.jar"),
     .entry_class = "MainForm145", .width = 800, .height = 700},
    {.type_id = 0x7A07, .model = "SM-MT816", .archives = CARD_PANEL_ARCHIVES("SM-MT816.jar"),
     .entry_class = "MainForm145", .width = 460, .height = 755},
    {.type_id = 0x7A0F, .model = "SM-MT12", .archives = CARD_PANEL_ARCHIVES("SM-MT12.jar"),
     .entry_class = "MainForm145", .width = 800, .height = 700},
    {.type_id = 0x7A08, .model = "SM-HF1", .archives = CARD_PANEL_ARCHIVES("SM-HF1.jar"),
     .entry_class = "MainForm", .width = 680, .height = 755},
    {.type_id = 0x7A14, .model = "SM-RF4D", .archives = CARD_PANEL_ARCHIVES("SM-RF4D.jar"),
     .entry_class = "MainForm", .width = 460, .height = 650},
    {.type_id = 0x7A15, .model = "SM-RF6D", .archives = CARD_PANEL_ARCHIVES("SM-RF6D.jar"),
     .entry_class = "MainForm", .width = 460, .height = 650},
    {.type_id = 0x7A12, .model = "SM-CT1 (No page)", .archives = nullptr, .entry_class = nullptr,
     .width = 0, .height = 0},
    {.type_id = 0x7A11, .model = "SM-RF5", .archives = CARD_PANEL_ARCHIVES("SM-RF5.jar"),
     .entry_class = "MainForm", .width = 500, .height = 370},
    {.type_id = 0x7A0A, .model = "SM-AT", .archives = CARD_PANEL_ARCHIVES("SM-AT.jar"),
     .entry_class = "MainForm", .width = 500, .height = 370},
    {.type_id = 0x7A20, .model = "SM-DIO12TTL", .archives = CARD_PANEL_ARCHIVES("SM-DIO12.jar"),
     .entry_class = "MainForm", .width = 490, .height = 670},
    {.type_id = 0x7A21, .model = "SM-DIO12CMOS", .archives = CARD_PANEL_ARCHIVES("SM-DIO12.jar"),
     .entry_class = "MainForm", .width = 490, .height = 670},
    {.type_id = 0x7A22, .model = "SM-DIO12OC", .archives = CARD_PANEL_ARCHIVES("SM-DIO12.jar"),
     .entry_class = "MainForm", .width = 490, .height = 670},
    {.type_id = 0x7A23, .model = "SM-DIO12HVOC", .archives = CARD_PANEL_ARCHIVES("SM-DIO12.jar"),
     .entry_class = "MainForm", .width = 490, .height = 670},
    // Sized from the card's own channel table.
    {.type_id = kGenericTypeId, .model = "SM-GENERIC",
     .archives = CARD_PANEL_ARCHIVES("SM-GENERIC.jar"), .entry_class = "MainForm", .width = 0,
     .height = 0},
    {.type_id = kUnsupportedTypeId, .model = "SM-NOFUNC", .archives = nullptr,
     .entry_class = nullptr, .width = 0, .height = 0},
    {.type_id = 0, .model = nullptr, .archives = nullptr, .entry_class = nullptr, .width = 0,
     .height = 0},
};

#undef CARD_PANEL_ARCHIVES

constexpr bool OneRowPerTypeId() {
  constexpr std::size_t rows = sizeof kWebControls / sizeof kWebControls[0];
  for (std::size_t i = 0; i + 1 < rows; ++i) {
    if (kWebControls[i].type_id == 0) return false;
    for (std::size_t j = i + 1; j + 1 < rows; ++j) {
      if (kWebControls[i].type_id == kWebControls[j].type_id) return false;
    }
  }
  return kWebControls[rows - 1].type_id == 0;
}
static_assert(OneRowPerTypeId(), "one row per type id, ended by type id 0");

// The longest model text a card's description gives, before any suffix.
constexpr std::size_t kDescribedModelLength = 12;

struct WindowSize {
  int width;
  int height;
};

// Channel i of a card whose download left no table is numbered i, as its driver numbers it.
int ChannelAt(const CardRecord& record, int index) {
  return record.channel_table != nullptr ? record.channel_table[index] : index;
}

// How many channels from `index` on each follow the one before, starting after `previous`.
int FollowingChannels(const CardRecord& record, int index, int previous) {
  int count = 0;
  for (; index < record.channel_count && ChannelAt(record, index) == previous + 1; ++index) {
    previous = ChannelAt(record, index);
    ++count;
  }
  return count;
}

// Lays the channels out in rows of runs of consecutive numbers: a run that fits on the
// row is set one column apart from the one before, a longer one starts a new row, and a
// run longer than 16 wraps every 16 columns. Each run's length is counted where the run
// starts instead of being kept in a table of runs, so a card with any number of runs is
// sized by the same rule and nothing can overflow.
WindowSize GenericWindowSize(const CardRecord& record) {
  int column = 0;
  int rows = 0;
  int widest = 0;
  // The position before the first channel counts as channel -1: a table starting at 0
  // continues that first run.
  int previous = -1;
  int run_length = FollowingChannels(record, 0, previous);
  for (int index = 0; index < record.channel_count; ++index) {
    const int channel = ChannelAt(record, index);
    if (channel == previous + 1) {
      if (column > 16 || (column > 15 && run_length > 16)) {
        ++rows;
        column = 0;
      }
    } else {
      run_length = 1 + FollowingChannels(record, index + 1, channel);
      if (run_length + column < 17) {
        ++column;
      } else {
        ++rows;
        column = 0;
      }
    }
    widest = std::max(widest, column);
    ++column;
    previous = channel;
  }
  return WindowSize{.width = (widest + 1) * 60 + 70, .height = (rows + 1) * 30 + 190};
}

WindowSize DownloadedCardWindowSize(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  const CardRecord* record = CardSlotRecord(slot);
  return GenericWindowSize(record != nullptr ? *record : CardRecord{});
}

// The model text of a card named by its description: its first word, at most 12
// characters of it.
int32_t DescribedModel(int slot, std::string* model) {
  uint32_t type_id = 0;
  char description[kCardTextSize];
  char serial[kCardTextSize];
  char revisions[3][kCardTextSize];
  const int32_t result = GetCardIdentity(slot, &type_id, description, serial, revisions[0],
                                         revisions[1], revisions[2]);
  if (result < 0) return result;
  const std::string_view text(description);
  *model = text.substr(0, std::min(text.find(' '), kDescribedModelLength));
  return 0;
}

// Points the link `fixed_link` at `fixed_target` (both resolved under the chassis root),
// replacing whatever link stood there. Made beside its name and renamed over it, so
// that the web server never finds the name missing. A failure leaves the old link.
void ReplaceLink(const std::string& fixed_link, const std::string& fixed_target) {
  const std::string link = platform::ResolvePath(fixed_link);
  const std::string temporary = link + ".tmp";
  unlink(temporary.c_str());
  if (symlink(platform::ResolvePath(fixed_target).c_str(), temporary.c_str()) != 0) return;
  if (std::rename(temporary.c_str(), link.c_str()) != 0) unlink(temporary.c_str());
}

// One link per archive of `archives` (names separated by commas and blanks).
void LinkArchives(const std::string& folder, std::string_view archives) {
  constexpr std::string_view kSeparators = ", ";
  std::string_view::size_type start = archives.find_first_not_of(kSeparators);
  while (start != std::string_view::npos) {
    const std::string_view::size_type end = archives.find_first_of(kSeparators, start);
    const std::string name(archives.substr(start, end - start));
    ReplaceLink(folder + "/" + name, std::string(kArchiveFolder) + "/" + name);
    start = archives.find_first_not_of(kSeparators, end);
  }
}

}  // namespace

const WebControlEntry* FindWebControlEntry(uint32_t type_id) {
  for (const WebControlEntry* entry = kWebControls; entry->type_id != 0; ++entry) {
    if (entry->type_id == type_id) return entry;
  }
  return nullptr;
}

int32_t InstallCardWebControl(uint32_t type_id, int slot) {
  if (!InSlotRange(slot)) return err::kSlotOutOfRange;
  const WebControlEntry* entry = FindWebControlEntry(type_id);
  if (entry == nullptr) {
    diag_error_line(kSource, "InstallCardWebControl", __LINE__,
                    "Could not find the web controls for card id 0x%x\n", type_id);
    return -1;
  }

  // The web pages only read these files: one that cannot be made costs the card its
  // panel, never its installation, so the results of the writes are not kept.
  const bool chassis = type_id == kChassisTypeId;
  const std::string folder = std::string(kControlsFolder) +
                             (chassis ? "/system" : "/slot" + std::to_string(slot));
  MakeStoredFolder(folder.c_str());
  ReplaceLink(folder + "/index.php", std::string(kArchiveFolder) + "/index.php");
  const auto write_file = [&folder](const char* name, std::string_view contents) {
    ReplaceStoredFile((folder + "/" + name).c_str(), contents);
  };
  if (!chassis) write_file("slot", std::to_string(slot));

  std::string model = entry->model;
  if (type_id == kGenericTypeId || type_id == kUnsupportedTypeId) {
    const int32_t result = DescribedModel(slot, &model);
    if (result < 0) return result;
    if (type_id == kUnsupportedTypeId) model += " (Not supported)";
  }
  write_file("model", model);

  if (entry->archives == nullptr || entry->entry_class == nullptr) return 0;
  write_file("archive", entry->archives);
  write_file("class", entry->entry_class);
  LinkArchives(folder, entry->archives);
  WindowSize size{.width = entry->width, .height = entry->height};
  if (entry->height == 0) size = DownloadedCardWindowSize(slot);
  write_file("height", std::to_string(size.height));
  write_file("width", std::to_string(size.width));
  return 0;
}

// The scan list, its file and its autorecall flag (see scan_list.h).
#include "scanning/scan_list.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "cards/card_manager.h"
#include "core/stored_file.h"
#include "hardware/event_log.h"
#include "scanning/scan_engine.h"
#include "scpi/error_codes.h"
#include "switching/paths.h"
#include "switching/stored_text.h"

namespace {

constexpr const char* kScanListFile = "/mnt/nonv/scanlists/scanlist.scn";
constexpr const char* kAutoRecallFile = "/mnt/nonv/config/scan_list/scan_autorecall";
constexpr const char* kNoSequence = "NONE";

std::unique_ptr<ChannelList> g_scan_list;

int32_t RecallFailed(const std::string& text) {
  LogEvent(text.c_str());
  return err::kScanListRecallFailed;
}

// "PATH: <name>,<sequence>" into a path element.
int32_t ReadPathLine(const std::string& line, ChannelListElement* element) {
  const std::size_t comma = line.find(',');
  const char* kPrefix = "PATH: ";
  if (line.compare(0, std::strlen(kPrefix), kPrefix) != 0 || comma == std::string::npos ||
      comma == std::strlen(kPrefix) || comma + 1 >= line.size()) {
    return RecallFailed("Scan List Recall failed - Incorrect format for path line in scan list");
  }
  const std::string name = line.substr(std::strlen(kPrefix), comma - std::strlen(kPrefix));
  const std::string sequence = line.substr(comma + 1);
  const ChannelList* path = FindPathChannels(name.c_str());
  if (path == nullptr) {
    // Not defined now: the stored definitions may hold it.
    if (RecallPath(name.c_str()) != 0) {
      return RecallFailed("Scan List Recall failed - could not find or referenced path name '" +
                          name + "'");
    }
    path = FindPathChannels(name.c_str());
    if (path == nullptr) {
      return RecallFailed("Scan List Recall failed - could not find or referenced path name '" +
                          name + "' after recalling it from nonvol");
    }
  }
  if (sequence != kNoSequence) {
    return RecallFailed("Scan List Recall failed - could not clear sequence association for "
                        "path name '" + name + "'");
  }
  element->path = 1;
  element->name = name;
  element->path_lists = std::make_shared<const ChannelList>(*path);
  return 0;
}

// "CHANNEL: <slot>(<channel>),<sequence>" into a channel element.
int32_t ReadChannelLine(const std::string& line, ChannelListElement* element) {
  const char* kPrefix = "CHANNEL: ";
  const char* p = line.c_str() + std::strlen(kPrefix);
  int32_t slot = 0;
  int32_t channel = 0;
  if (line.compare(0, std::strlen(kPrefix), kPrefix) != 0 || !ReadStoredNumber(&p, &slot, true) ||
      *p++ != '(' || !ReadStoredNumber(&p, &channel, true) || *p++ != ')' || *p++ != ',' ||
      *p == '\0' || std::strchr(p, ' ') != nullptr) {
    return RecallFailed(
        "Scan List Recall failed - Incorrect format for channel line in scan scan list");
  }
  const int32_t index =
      slot >= 0 && slot < kSlotCount && IsCardPresent(slot) ? CardChannelToIndex(slot, channel, 0)
                                                            : -1;
  char text[kEventTextSize];
  if (index < 0) {
    std::snprintf(text, sizeof text,
                  "Scan List Recall failed - could not get channel index for slot %d, channel %d",
                  slot, channel);
    return RecallFailed(text);
  }
  if (std::strcmp(p, kNoSequence) != 0) {
    std::snprintf(text, sizeof text,
                  "Scan List Recall failed - could not select sequence '%.100s' for slot %d, "
                  "channel %d",
                  p, slot, channel);
    return RecallFailed(text);
  }
  element->slot = slot;
  element->channel = channel;
  element->index = index;
  return 0;
}

}  // namespace

const ChannelList* ScanList() { return g_scan_list.get(); }

void ReplaceScanList(std::unique_ptr<ChannelList> list, bool restart) {
  if (list != nullptr && list->close.empty()) list.reset();
  g_scan_list = std::move(list);
  ScanListReplaced(restart);
}

int32_t StoreScanList() {
  try {
    std::string contents;
    if (g_scan_list == nullptr) {
      contents = "NONE";
    } else {
      for (const ChannelListElement& element : g_scan_list->close) {
        if (element.path != 0 && FindPathChannels(element.name.c_str()) == nullptr) {
          return err::kReferencedNameDoesNotExist;
        }
      }
      for (const ChannelListElement& element : g_scan_list->close) {
        char line[64];
        if (element.path != 0) {
          contents += "PATH: ";
          contents += element.name;
          contents += ",NONE\n";
        } else {
          std::snprintf(line, sizeof line, "CHANNEL: %d(%d),NONE\n", element.slot, element.channel);
          contents += line;
        }
      }
    }
    return ReplaceStoredFile(kScanListFile, contents) == 0 ? 0 : err::kScanListStoreFailed;
  } catch (const std::bad_alloc&) {
    return err::kScanListStoreFailed;
  }
}

int32_t RecallScanList() {
  std::string contents;
  switch (ReadStoredFile(kScanListFile, &contents)) {
    case StoredFileRead::kMissing:
      ReplaceScanList(nullptr, false);
      return 0;
    case StoredFileRead::kFailed:
      return err::kScanListRecallFailed;
    case StoredFileRead::kRead:
      break;
  }
  try {
    auto list = std::make_unique<ChannelList>();
    bool first = true;
    for (const std::string& line : StoredLines(contents)) {
      if (first && line.compare(0, 4, "NONE") == 0) break;
      first = false;
      ChannelListElement element;
      const int32_t read =
          line.compare(0, 1, "P") == 0 ? ReadPathLine(line, &element) : ReadChannelLine(line, &element);
      if (read != 0) return read;
      list->close.push_back(std::move(element));
    }
    // A scan that is initiated is not restarted by a recall.
    ReplaceScanList(std::move(list), false);
    return 0;
  } catch (const std::bad_alloc&) {
    return RecallFailed("Scan List Recall failed - could not allocate path element for path name ''");
  }
}

int32_t SetScanListAutoRecall(bool on) {
  return ReplaceStoredFile(kAutoRecallFile, on ? "1" : "0") == 0 ? 0 : err::kScanListStoreFailed;
}

bool ScanListAutoRecall() {
  std::string text;
  return ReadStoredFile(kAutoRecallFile, &text) == StoredFileRead::kRead && !text.empty() &&
         text[0] == '1';
}

int32_t PowerOnScanListRecall() { return ScanListAutoRecall() ? RecallScanList() : 0; }

void ResetScanListForTest() { g_scan_list.reset(); }

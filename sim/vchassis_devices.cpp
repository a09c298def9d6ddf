// The simulated hardware of a virtual chassis and the table of devices it serves.
#include "sim/vchassis_devices.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "devices/board_devices.h"
#include "devices/card_registers.h"
#include "devices/fpga_registers.h"
#include "devices/gpib_requests.h"
#include "devices/xbus_requests.h"
#include "sim/board_models.h"
#include "sim/card_models.h"
#include "sim/device_server.h"
#include "sim/file_bytes.h"
#include "sim/fpga_model.h"
#include "sim/gpib_model.h"
#include "sim/usbtmc_model.h"
#include "sim/vchassis_control.h"

namespace sim {
namespace {


bool KeepsFram(const CardModel& card) { return card.traits().relay_counters > 0; }

int SaveFram(const CardModel& card, const std::string& path, std::string* error) {
  const std::vector<uint8_t> image = card.FramImage();
  return ReplaceFileBytes(path, image.data(), image.size(), error);
}

// A card with relay counters as the bus sees it: its FRAM is saved each time the
// firmware closes a write sequence, so a chassis that is killed keeps its counters.
class FramKeepingCard final : public LocalBusTarget {
 public:
  FramKeepingCard(std::shared_ptr<CardModel> card, std::string path)
      : card_(std::move(card)), path_(std::move(path)) {}

  int ReadByte(uint32_t address, uint8_t* byte) override { return card_->ReadByte(address, byte); }

  int WriteByte(uint32_t address, uint8_t byte) override {
    const int result = card_->WriteByte(address, byte);
    if (result == 0 && address == kCardFramSequence && byte == 0) Save();
    return result;
  }

 private:
  void Save() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string error;
    if (SaveFram(*card_, path_, &error) == 0) {
      complained_ = false;
    } else if (!complained_) {  // once per failing spell, not once per counter
      std::fprintf(stderr, "vchassis: cannot keep the card's FRAM: %s\n", error.c_str());
      complained_ = true;
    }
  }

  std::shared_ptr<CardModel> card_;
  std::string path_;
  std::mutex mutex_;  // one save at a time
  bool complained_ = false;
};

// Starts the card from its slot's FRAM file, when there is one. 0, or -1 with *error.
int LoadFram(CardModel* card, int slot, const std::string& path, std::string* error) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 && errno == ENOENT) return 0;
  std::vector<uint8_t> image;
  if (ReadFileBytes(path, &image, error) != 0) return -1;
  const size_t size = card->FramImage().size();
  if (image.size() != size) {
    *error = path + " holds " + std::to_string(image.size()) + " bytes, but the " +
             card->traits().model + " in slot " + std::to_string(slot) + " keeps " +
             std::to_string(size) + ": remove the file or put that card back";
    return -1;
  }
  card->LoadFramImage(image);
  return 0;
}

}  // namespace

std::string FramFolder(const std::string& root) { return root + "/sim"; }

std::string CommandLogFile(const std::string& fram_folder) { return fram_folder + "/commands.log"; }

std::string FramFile(const std::string& fram_folder, int slot, const std::string& model) {
  return fram_folder + "/fram-slot" + std::to_string(slot) + "-" + model;
}

int BuildHardware(const ChassisDescription& description, const std::string& fram_folder,
                  SimulatedHardware* hardware, std::string* error) {
  SimulatedHardware built;
  built.fpga = std::make_shared<FpgaModel>();
  built.xbus = std::make_shared<XbusModel>();
  built.fram_folder = fram_folder;
  // The FPGA's interrupt line reaches the firmware as bus driver events: the
  // chassis source is the external trigger input, the others are cards.
  built.fpga->SetInterruptSink([xbus = built.xbus](uint32_t sources) {
    if (sources & kFpgaChassisInterrupt) xbus->PostEvent(kXbusEventTrigger);
    if (sources & ~kFpgaChassisInterrupt) xbus->PostEvent(kXbusEventCardInterrupt);
  });
  if (!fram_folder.empty() && mkdir(fram_folder.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = fram_folder + ": " + std::strerror(errno);
    return -1;
  }
  built.adc = std::make_shared<TemperatureAdc>();
  built.bridge = std::make_shared<BoardBridge>(fram_folder, built.adc);
  if (built.bridge->Load(error) != 0) return -1;
  built.fpga->SetI2cBridge(built.bridge);
  built.fans = std::make_shared<FanDevice>();
  built.lan_button = std::make_shared<LanButtonDevice>();
  for (int slot = kFirstCageSlot; slot <= kLastCardSlot; ++slot) {
    const std::string& model = description.models[static_cast<size_t>(slot)];
    if (model.empty()) continue;
    std::shared_ptr<CardModel> card = MakeCardModel(model);
    if (!card) {
      *error = "no card model \"" + model + "\" for slot " + std::to_string(slot);
      return -1;
    }
    std::shared_ptr<LocalBusTarget> target = card;
    if (!fram_folder.empty() && KeepsFram(*card)) {
      const std::string path = FramFile(fram_folder, slot, card->traits().model);
      if (LoadFram(card.get(), slot, path, error) != 0) return -1;
      target = std::make_shared<FramKeepingCard>(card, path);
    }
    built.xbus->Plug(slot, std::move(target));
    built.cards[static_cast<size_t>(slot)] = std::move(card);
  }
  *hardware = std::move(built);
  return 0;
}

int SaveFramImages(const SimulatedHardware& hardware, std::string* error) {
  if (hardware.fram_folder.empty()) return 0;
  int result = 0;
  for (int slot = kFirstCageSlot; slot <= kLastCardSlot; ++slot) {
    const std::shared_ptr<CardModel>& card = hardware.cards[static_cast<size_t>(slot)];
    if (!card || !KeepsFram(*card)) continue;
    std::string why;
    if (SaveFram(*card, FramFile(hardware.fram_folder, slot, card->traits().model), &why) != 0 && result == 0) {
      *error = why;
      result = -1;
    }
  }
  return result;
}

int AddSimulatedDevices(DeviceServer* server, const SimulatedHardware& hardware) {
  auto gpib = std::make_shared<GpibModel>();
  auto usbtmc = std::make_shared<UsbtmcModel>();
  struct Node {
    const char* path;
    std::shared_ptr<platform::DeviceModel> model;
  };
  const Node nodes[] = {
      {kGpibDevicePath, gpib->instrument_side()},
      {kGpibBusPath, gpib->host_side()},
      {kUsbtmcDevicePath, usbtmc->instrument_side()},
      {kUsbtmcHostPath, usbtmc->host_side()},
      {kFpgaMemoryPath, hardware.fpga},
      {kXbusDevicePath, hardware.xbus},
      {kI2cDevicePath, std::make_shared<I2cBusDevice>(hardware.adc)},
      {kFanDevicePath, hardware.fans},
      {kLciDevicePath, hardware.lan_button},
      {kControlDevicePath, std::make_shared<ControlDevice>(hardware)},
  };
  for (const Node& node : nodes) {
    int result = server->Add(node.path, node.model);
    if (result != 0) return result;
  }
  return 0;
}

}  // namespace sim

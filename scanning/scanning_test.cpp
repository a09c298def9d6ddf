// Scanning against the simulated cage, through the engine as a client sends it: the
// steps a scan list compiles to, scans stepped by *TRG, TRIGger and the external
// trigger with the coils after each step, the output-trigger pulses, the OPERation
// bits and the start and end notices, the trigger settings, the scan-list file.
#include "scanning/scan_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller/command_tree_test_support.h"
#include "core/stored_file.h"
#include "hardware/event_log.h"
#include "scanning/scan_list.h"
#include "scpi/error_codes.h"
#include "scpi/status.h"
#include "sim/card_models.h"
#include "sim/fpga_model.h"
#include "switching/switching_test_support.h"
#include "switching/system_reset.h"

namespace {

constexpr const char* kScanListFile = "/mnt/nonv/scanlists/scanlist.scn";

std::vector<bool>& Notices() {
  static std::vector<bool> notices;
  return notices;
}

std::string Refs(const RelayRefs& refs) {
  std::string text;
  for (const RelayRef& ref : refs) {
    text += (text.empty() ? "" : " ") + std::to_string(ref.slot) + "(" + std::to_string(ref.channel) + ")";
  }
  return text;
}

class Scanning : public SimulatedCageTest {
 protected:
  void SetUp() override {
    SimulatedCageTest::SetUp();
    ResetScanEngineForTest();
    ResetScanListForTest();
    ResetStatusState();
    Notices().clear();
    SetScanEventNotice([](bool started) { Notices().push_back(started); });
    SetSwitchCompletionTrigger(PulseAfterSwitching);
    SetScanRunningQuery(ScanInitiated);
    SetScanResetSteps(ResetScanning);
  }
  void TearDown() override {
    SetScanEventNotice(nullptr);
    SetSwitchCompletionTrigger(nullptr);
    SetScanRunningQuery(nullptr);
    SetScanResetSteps(nullptr);
    ResetScanEngineForTest();
    ResetScanListForTest();
    SimulatedCageTest::TearDown();
  }

  // Each compiled step as "open: ... | close: ...".
  static std::vector<std::string> Steps() {
    std::vector<ScanStep> steps;
    RelayRefs last;
    EXPECT_EQ(CompileScanList(&steps, &last), 0);
    std::vector<std::string> out;
    for (const ScanStep& step : steps) out.push_back(Refs(step.open) + " | " + Refs(step.close));
    return out;
  }

  int64_t Pulses() const { return fpga_->TriggerPulses(); }
  uint16_t Operation() const { return StatusCondition(StatusRegister::kOperation); }
};

TEST_F(Scanning, ListsCompileToStepsThatShareRelaysAndOpenWhatIsLeftBehind) {
  Send("ROUT:SCAN (@1(100:102))");
  EXPECT_EQ(Steps(), (std::vector<std::string>{" | 1(100)", "1(100) | 1(101)", "1(101) | 1(102)"}));

  Send("PATH:DEF A,(@1(100),1(101))");
  Send("PATH:DEF B,(@1(101),1(102)),(@1(103))");
  Send("ROUT:SCAN (@A,B,A)");
  EXPECT_EQ(Steps(), (std::vector<std::string>{" | 1(100) 1(101)", "1(103) 1(100) | 1(102)",
                                                "1(102) | 1(100)"}));

  // Interlocks widen each element as CLOSe would.
  Send("EXCL (@1(100),1(200));INCL (@1(101),1(102))");
  Send("ROUT:SCAN (@1(100),1(101))");
  EXPECT_EQ(Steps(), (std::vector<std::string>{"1(200) | 1(100)", "1(100) | 1(101) 1(102)"}));
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Scanning, BusTriggersStepTheScanUntilItsCountRunsOut) {
  Send("TRIG:SOUR BUS;COUN 2;:ROUT:SCAN (@1(100:102))");
  const int64_t pulses = Pulses();
  Send("INIT");
  EXPECT_EQ(Notices(), std::vector<bool>{true});
  EXPECT_EQ(Operation() & 0x60, 0x20) << "waiting for a trigger";
  EXPECT_EQ(Send("*OPC?"), "0") << "the scan is still running";
  Send("*TRG");
  EXPECT_EQ(cards_[1]->EnergisedCoils(), std::vector<int>{0});
  Send("*TRG");
  EXPECT_EQ(cards_[1]->EnergisedCoils(), std::vector<int>{1});
  EXPECT_EQ(Pulses(), pulses + 2) << "the output trigger pulses after each step";
  EXPECT_EQ(Notices(), (std::vector<bool>{true, false}));
  EXPECT_EQ(Operation() & 0x60, 0x40) << "ended";
  Send("*TRG");
  EXPECT_EQ(cards_[1]->EnergisedCoils(), std::vector<int>{1}) << "a third trigger does nothing";
  EXPECT_EQ(Send("*OPC?"), "1");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Scanning, TheScanWrapsAroundAndTriggerStepsWithoutCounting) {
  Send("TRIG:SOUR HOLD;COUN 2;:ROUT:SCAN (@1(100:102));:INIT");
  Send("*TRG");  // not a bus source: nothing
  EXPECT_TRUE(cards_[1]->EnergisedCoils().empty());
  for (int step = 0; step < 4; ++step) Send("TRIG");
  // Four steps of three elements: back on the first, the last one opened again.
  EXPECT_EQ(cards_[1]->EnergisedCoils(), std::vector<int>{0});
  EXPECT_TRUE(ScanInitiated()) << "TRIGger does not count";
  Send("ABOR");
  EXPECT_FALSE(ScanInitiated());
  EXPECT_EQ(Operation() & 0x60, 0x40);
  EXPECT_EQ(Notices(), (std::vector<bool>{true, false}));
  Send("TRIG");  // idle: nothing, and no error
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Scanning, WhatARunningScanRefuses) {
  Send("TRIG:SOUR EXT;COUN 5;:ROUT:SCAN (@1(100),1(101));:INIT");
  Send("INIT");
  Send("TRIG:SOUR BUS");
  Send("PATH:REC");
  Send("TRIG:COUN 7;SOUR TIM");  // the count is set before the source is refused
  Send("TRIG:SOUR FAST");
  EXPECT_EQ(Errors(), (std::vector<std::string>{
                          Entry(err::kProgramCurrentlyRunning), Entry(err::kProgramCurrentlyRunning),
                          Entry(err::kProgramCurrentlyRunning), Entry(err::kProgramCurrentlyRunning),
                          "-224,\"illegal parameter value;trigger source parameter\""}));
  EXPECT_EQ(Send("TRIG:COUN?"), "7");
  // The external trigger input steps an EXTernal scan.
  StepOnExternalTrigger();
  EXPECT_EQ(cards_[1]->EnergisedCoils(), std::vector<int>{0});
  // A new scan list restarts the scan from its first element, announced once.
  Send("ROUT:SCAN (@1(200),1(201))");
  StepOnExternalTrigger();
  EXPECT_EQ(cards_[1]->EnergisedCoils(), (std::vector<int>{0, 8}));
  EXPECT_EQ(Notices(), std::vector<bool>{true});
}

TEST_F(Scanning, SettingsAreRangedRoundedAndResetByRst) {
  EXPECT_EQ(Send("TRIG:DEL 0.12345678;DEL?"), "0.12346");
  EXPECT_EQ(Send("TRIG:DEL MAX;DEL?"), "10.00000");
  EXPECT_EQ(Send("TRIG:COUN MAX;COUN?"), "2000000000");
  EXPECT_EQ(Send("OUTP:TRIG?"), "1");
  EXPECT_EQ(Send("OUTP:DEL 0.5;:OUTP:TRIG:DEL?"), "0.50000");
  EXPECT_EQ(Send("INIT:CONT ON;CONT?"), "1");
  Send("TRIG:COUN 0");
  Send("TRIG:DEL 11");
  Send("TRIG:COUN 3;SOUR TIM");  // passes validation, fails at execution after the count
  EXPECT_EQ(Errors(), (std::vector<std::string>{Entry(err::kDataOutOfRange),
                                                 Entry(err::kDataOutOfRange),
                                                 Entry(err::kIllegalParameterValue)}));
  EXPECT_EQ(Send("TRIG:COUN?;SOUR?"), "3;IMM");
  Send("TRIG:SOUR BUS;:ROUT:SCAN (@1(100));:INIT");
  ASSERT_TRUE(ScanInitiated());
  Send("*RST");
  EXPECT_FALSE(ScanInitiated());
  EXPECT_EQ(Send("OUTP:TRIG?;:TRIG:SOUR?;COUN?;DEL?"), "0;IMM;1;0.00000");
  EXPECT_EQ(Send("ROUT:SCAN?"), "");
  EXPECT_EQ(Send("INIT:CONT?"), "1") << "the reset leaves the continuous flag";
  Send("INIT");  // no scan list: nothing initiated
  EXPECT_FALSE(ScanInitiated());
  EXPECT_EQ(Send("*OPC?"), "1");
}

TEST_F(Scanning, TheScanListIsStoredAndRecalledWithItsPaths) {
  Send("ROUT:SCAN:STOR");
  std::string text;
  ASSERT_EQ(ReadStoredFile(kScanListFile, &text), StoredFileRead::kRead);
  EXPECT_EQ(text, "NONE");
  Send("PATH:DEF FEED,(@1(100)),(@1(101));:PATH:STOR");
  Send("ROUT:SCAN (@1(102),FEED,9(100))");
  EXPECT_EQ(Send("ROUT:SCAN?"), "(@1(102),FEED,9(100))");
  Send("ROUT:SCAN:SAVE");
  ASSERT_EQ(ReadStoredFile(kScanListFile, &text), StoredFileRead::kRead);
  EXPECT_EQ(text, "CHANNEL: 1(102),NONE\nPATH: FEED,NONE\nCHANNEL: 9(100),NONE\n");
  Send("ROUT:SCAN:CLE;:PATH:DEL:ALL");
  EXPECT_EQ(Send("ROUT:SCAN?"), "");
  Send("ROUT:SCAN:REC");  // FEED comes back from the stored definitions
  EXPECT_EQ(Send("ROUT:SCAN?"), "(@1(102),FEED,9(100))");
  EXPECT_TRUE(Errors().empty());

  // A bad line keeps the old list and says why in the event log.
  ASSERT_EQ(ReplaceStoredFile(kScanListFile, "CHANNEL: 1(102),NONE\nCHANNEL: 1(3)\n"), 0);
  Send("ROUT:SCAN (@1(200));:ROUT:SCAN:REC");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kScanListRecallFailed)});
  EXPECT_EQ(Send("ROUT:SCAN?"), "(@1(200))");
  char event[kEventReplySize];
  GetEvent(GetEventCount(), event);
  EXPECT_NE(std::string(event).find(
                "Scan List Recall failed - Incorrect format for channel line in scan scan list"),
            std::string::npos)
      << event;
  // A list naming a path deleted since is not stored.
  Send("PATH:DEF GONE,(@1(300))");
  Send("ROUT:SCAN (@GONE)");
  Send("PATH:DEL GONE");
  Send("ROUT:SCAN:STOR");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kReferencedNameDoesNotExist)});

  EXPECT_EQ(Send("ROUT:SCAN:REC:AUTO?"), "0");
  Send("ROUT:SCAN:REC:AUTO ON");
  ASSERT_EQ(ReadStoredFile("/mnt/nonv/config/scan_list/scan_autorecall", &text),
            StoredFileRead::kRead);
  EXPECT_EQ(text, "1");
  EXPECT_EQ(Send("ROUT:SCAN:REC:AUTO?"), "1");
}

// A recall during an initiated scan installs the new list without restarting the scan:
// no new start notice, the count goes on, and the next trigger steps the new list.
TEST_F(Scanning, ARecallDuringAScanStepsTheRecalledListFromTheNextTrigger) {
  Send("ROUT:SCAN (@1(200),1(201));:ROUT:SCAN:STOR");
  Send("TRIG:SOUR BUS;COUN 3;:ROUT:SCAN (@1(100:102));:INIT");
  Send("*TRG");
  EXPECT_EQ(cards_[1]->EnergisedCoils(), std::vector<int>{0});
  Send("ROUT:SCAN:REC");
  EXPECT_TRUE(ScanInitiated());
  EXPECT_EQ(Operation() & 0x60, 0x20) << "still waiting for a trigger";
  Send("INIT");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kProgramCurrentlyRunning)});
  Send("*TRG");
  EXPECT_EQ(cards_[1]->EnergisedCoils(), (std::vector<int>{0, 8})) << "1(200), the new list's first";
  EXPECT_EQ(Notices(), std::vector<bool>{true});
  Send("*TRG");  // the third of the count ends the scan
  EXPECT_EQ(Notices(), (std::vector<bool>{true, false}));
  EXPECT_FALSE(ScanInitiated());
  EXPECT_TRUE(Errors().empty());
}

// Every stored list reads back from a file whose lines end in CR LF, or in blanks, as
// a file edited on another machine has them.
TEST_F(Scanning, StoredListsReadBackWithCrlfLineEnds) {
  struct Row {
    const char* store;   // sets the list and stores it
    const char* file;
    const char* recall;  // changes the list, then recalls the file
    const char* query;
    const char* expected;
  } rows[] = {
      {"INCL (@1(100,101));:INCL:STOR", "/mnt/nonv/config/include_list/include_list.lst",
       "INCL:DEL:ALL;:INCL:REC", "INCL?", "(@1(100),1(101))"},
      {"EXCL (@1(200,201));:EXCL:STOR", "/mnt/nonv/config/exclude_list/exclude_list.lst",
       "EXCL:DEL:ALL;:EXCL:REC", "EXCL?", "(@1(200),1(201))"},
      {"PATH:DEF FEED,(@1(300)),(@1(301));:PATH:STOR", "/mnt/nonv/paths/path_defs",
       "PATH:DEL:ALL;:PATH:REC", "PATH:DEF? FEED", "(@1(300)),(@1(301))"},
      {"VER:MASK (@1(100)),INV;:VER:STOR", "/mnt/nonv/config/verify_masks/verify_mask_data",
       "VER:MASK (@1(100)),0;:VER:REC", "VER:MASK? (@1(100))", "1"},
      {"MOD:DEF PSU,9;:MOD:SAVE", "/mnt/nonv/config/module_names/module_name_defs",
       "MOD:DEL:ALL;:MOD:REC", "MOD:CAT?", "PSU"},
      {"CLOS (@1(302));*SAV 7", "/mnt/nonv/config/states/state7.txt", "OPEN (@1(302));*RCL 7",
       "CLOS? (@1(302))", "1"},
      {"ROUT:SCAN (@1(102),FEED);:ROUT:SCAN:STOR", "/mnt/nonv/scanlists/scanlist.scn",
       "ROUT:SCAN:CLE;:ROUT:SCAN:REC", "ROUT:SCAN?", "(@1(102),FEED)"},
  };
  for (const Row& row : rows) {
    Send(row.store);
    std::string text;
    ASSERT_EQ(ReadStoredFile(row.file, &text), StoredFileRead::kRead) << row.file;
    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string(" \r\n") : std::string(1, c);
    ASSERT_EQ(ReplaceStoredFile(row.file, crlf), 0);
    Send(row.recall);
    EXPECT_EQ(Send(row.query), row.expected) << row.file;
    EXPECT_TRUE(Errors().empty()) << row.file;
  }
}

}  // namespace

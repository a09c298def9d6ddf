// Checks of the keyword list and the command tree: every spelling resolves, the
// optional ROUTe and TRIGger:SEQuence nodes lead where a user expects, unknown and
// misplaced keywords are reported, and every engine handler is reachable by a header.
#include "controller/command_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cards/card_handlers.h"
#include "controller/command_tree_test_support.h"
#include "hardware/event_log.h"
#include "hardware/hardware_handlers.h"
#include "lan/lan_handlers.h"
#include "scpi/command_tree.h"
#include "scanning/scanning_handlers.h"
#include "scpi/scpi_handlers.h"
#include "switching/switching_handlers.h"

namespace {

struct WalkResult {
  int32_t status;
  const CommandNode* position;
};

// Feeds a header to the walker the way the header parser does: one leading ':' is
// skipped, then keywords and ':' separators alternate.
WalkResult Walk(const CommandNode* start, const std::string& header) {
  const CommandNode* position = start;
  size_t at = (!header.empty() && header[0] == ':') ? 1 : 0;
  while (at < header.size()) {
    std::string keyword;
    if (header[at] == ':') {
      keyword = ":";
      ++at;
    } else {
      const size_t end = header.find(':', at);
      keyword = header.substr(at, end == std::string::npos ? std::string::npos : end - at);
      at = end == std::string::npos ? header.size() : end;
    }
    const int32_t status = WalkKeyword(keyword.c_str(), &position);
    if (status != 0) return {status, position};
  }
  return {0, position};
}

const CommandNode* Reach(const std::string& header) {
  const WalkResult result = Walk(header[0] == '*' ? kCommonNodes : kRootNodes, header);
  EXPECT_EQ(result.status, 0) << header;
  EXPECT_NE(result.position, nullptr) << header;
  return result.status == 0 ? result.position : nullptr;
}

// The entry a header reaches, or (after a failed expectation) an empty entry, so a
// broken table fails the test instead of crashing it.
const CommandNode& At(const std::string& header) {
  static const CommandNode kNowhere = {.token = -1, .child = nullptr, .record = nullptr};
  const CommandNode* entry = Reach(header);
  return entry == nullptr ? kNowhere : *entry;
}

const CommandRecord& RecordAt(const std::string& header) {
  static const CommandRecord kNone = {};
  const CommandRecord* record = At(header).record;
  EXPECT_NE(record, nullptr) << header;
  return record == nullptr ? kNone : *record;
}

TEST(KeywordList, SortedUpperCaseAndEverySpellingResolves) {
  for (size_t i = 0; i < kKeywordCount; ++i) {
    const char* text = kKeywordList[i].text;
    if (i > 0) {
      EXPECT_LT(std::strcmp(kKeywordList[i - 1].text, text), 0) << text;
    }
    for (const char* p = text; *p != '\0'; ++p) {
      EXPECT_FALSE(*p >= 'a' && *p <= 'z') << text;
    }
    EXPECT_EQ(LookupKeyword(text), kKeywordList[i].token) << text;
  }
}

TEST(KeywordList, OnlyListedSpellingsAreKnown) {
  for (const char* text : {"CLO", "CLOSED", "clos", "Close", "CLOS1", "1", "", "*cls", "ROUTE ",
                           ":", "STATUS?", "*", "ZZZZ", "*AAA"}) {
    EXPECT_EQ(LookupKeyword(text), -1) << '"' << text << '"';
  }
}

TEST(KeywordList, TokensAndTheirSpellings) {
  EXPECT_EQ(LookupKeyword("*CLS"), 501);
  EXPECT_EQ(LookupKeyword("CLOS"), 532);
  EXPECT_EQ(LookupKeyword("CLOSE"), 532);
  EXPECT_EQ(LookupKeyword("CLOS?"), 533);
  EXPECT_EQ(LookupKeyword("CLOSE?"), 533);
  EXPECT_EQ(LookupKeyword("STAT"), 534);
  EXPECT_EQ(LookupKeyword("STATE"), 536);
  EXPECT_EQ(LookupKeyword("STAT?"), 537);
  EXPECT_EQ(LookupKeyword("STATE?"), 537);
  EXPECT_NE(LookupKeyword("STATUS"), LookupKeyword("STAT"));
  EXPECT_EQ(LookupKeyword("DELETE"), 547);
  EXPECT_EQ(LookupKeyword("DEL"), 548);
  EXPECT_EQ(LookupKeyword("DELAY"), 570);
  EXPECT_EQ(LookupKeyword("DEL?"), 571);
  EXPECT_EQ(LookupKeyword("DELAY?"), 571);
  for (const char* text : {"INT", "INTERRUPT", "IRQ"}) EXPECT_EQ(LookupKeyword(text), 609);
  EXPECT_EQ(LookupKeyword("OWNER?"), 645);
  for (const char* text : {"NVUPD", "NVUPDATE", "UPD", "UPDATE"}) {
    EXPECT_EQ(LookupKeyword(text), 763);
  }
  EXPECT_EQ(LookupKeyword("ALL?"), 777);
  EXPECT_EQ(LookupKeyword("SERVICE?"), 783);
  EXPECT_EQ(LookupKeyword("TEMP?"), 785);
  // Matched although no node table uses them yet.
  for (const char* text : {"BBM", "NORMAL", "INV", "MMEMORY", "TESTMODE", "ASYN", "STEP?"}) {
    EXPECT_GT(LookupKeyword(text), 0) << text;
  }

  std::set<int32_t> tokens;
  for (size_t i = 0; i < kKeywordCount; ++i) tokens.insert(kKeywordList[i].token);
  EXPECT_EQ(kKeywordCount, 304u);
  EXPECT_EQ(tokens.size(), 188u);
  EXPECT_EQ(*tokens.begin(), 501);
  EXPECT_EQ(*tokens.rbegin(), 785);
}

TEST(CommandTree, ShortLongAndOptionalRouteReachOneEntry) {
  const CommandNode* close = Reach("CLOS");
  ASSERT_NE(close, nullptr);
  for (const char* header : {"CLOSE", "ROUT:CLOS", ":ROUTE:CLOSE", "ROUTE:CLOS", ":CLOS"}) {
    const CommandNode* other = Reach(header);
    ASSERT_NE(other, nullptr) << header;
    EXPECT_EQ(other->token, close->token) << header;
    EXPECT_EQ(other->child, close->child) << header;
    EXPECT_EQ(other->record, close->record) << header;
  }
  EXPECT_NE(Reach("CLOS:STAT?"), nullptr);
  EXPECT_EQ(Reach("ROUT:CLOS:STATE?"), Reach("CLOSE:STATE?"));
  // ROUTe is optional once, not repeatable, and does not lead to the other subsystems.
  EXPECT_EQ(Walk(kRootNodes, "ROUT:ROUT").status, -113);
  EXPECT_EQ(Walk(kRootNodes, "ROUT:TRIG").status, -113);
  EXPECT_EQ(Walk(kRootNodes, "ROUT:SYST:ERR?").status, -113);
}

TEST(CommandTree, TriggerSequenceIsOptionalAndRepeatable) {
  const CommandNode* count = Reach("TRIG:COUN");
  ASSERT_NE(count, nullptr);
  EXPECT_EQ(Reach("TRIG:SEQ:COUN"), count);
  EXPECT_EQ(Reach("TRIG:SEQ:SEQ:COUN"), count);
  EXPECT_EQ(Reach("TRIGGER:SEQUENCE:COUNT"), count);
  EXPECT_EQ(Reach("TRIG:SEQ:SOUR?"), Reach("TRIG:SOUR?"));
  // SEQuence is only a node inside TRIGger.
  EXPECT_EQ(Walk(kRootNodes, "SEQ:COUN").status, -113);
  EXPECT_EQ(Walk(kRootNodes, "OUTP:SEQ").status, -113);
}

TEST(CommandTree, EntriesWithBothRecordAndChildren) {
  // TRIGger alone is a command of its own and also leads on.
  const CommandNode* trigger = Reach("TRIGGER");
  ASSERT_NE(trigger, nullptr);
  ASSERT_NE(trigger->child, nullptr);
  EXPECT_EQ(At("TRIG:IMM").child, nullptr);
  for (const char* header : {"OUTP:TRIG", "INIT", "MON", "ROUT:MON"}) {
    const CommandNode* entry = Reach(header);
    ASSERT_NE(entry, nullptr) << header;
    EXPECT_NE(entry->child, nullptr) << header;
  }
  // ROUTe alone is never a complete header.
  const CommandNode* route = Reach("ROUTE");
  ASSERT_NE(route, nullptr);
  EXPECT_EQ(route->record, nullptr);
  EXPECT_NE(route->child, nullptr);
}

TEST(CommandTree, OneSpellingMeansWhatItsPositionSays) {
  // DEL is the delay under TRIGger and OUTPut, the delete under PATH and friends.
  const CommandNode* trigger_delay = Reach("TRIG:DEL");
  const CommandNode* path_delete = Reach("PATH:DEL");
  ASSERT_NE(trigger_delay, nullptr);
  ASSERT_NE(path_delete, nullptr);
  EXPECT_NE(trigger_delay, path_delete);
  EXPECT_EQ(trigger_delay->child, nullptr);
  EXPECT_NE(path_delete->child, nullptr);
  EXPECT_NE(Reach("PATH:DEL:NAME"), nullptr);
  EXPECT_EQ(Walk(kRootNodes, "TRIG:DEL:NAME").status, -110);
  // STAT leads to the status subsystem at the root and is the STATe keyword elsewhere.
  EXPECT_EQ(At("STAT").child, At("STATUS").child);
  EXPECT_NE(Reach("OUTP:TRIG:STAT"), nullptr);
  EXPECT_EQ(At("STAT:OPER?").record, At("STATUS:OPERATION:EVENT?").record);
  EXPECT_EQ(At("STAT:QUES?").record, At("STAT:QUES:EVEN?").record);
  EXPECT_NE(At("STAT:QUES:EVEN?").record, At("STAT:OPER:EVEN?").record);
  // Every spelling of SYSTem:NVUPDate selects one record.
  const CommandRecord* nvupdate = At("SYST:NVUPD").record;
  ASSERT_NE(nvupdate, nullptr);
  for (const char* header : {"SYSTEM:NVUPDATE", "SYST:UPD", "SYST:UPDATE"}) {
    EXPECT_EQ(At(header).record, nvupdate) << header;
  }
  EXPECT_NE(At("SYST:UPD?").record, nvupdate);
  EXPECT_NE(Reach("DIAG:IRQ:READ?"), nullptr);
  EXPECT_EQ(Reach("DIAG:INTERRUPT:READ?"), Reach("DIAG:IRQ:READ?"));
  EXPECT_EQ(Reach("SYST:COMM:LAN:MOD"), Reach("SYST:COMM:LAN:MODULE"));
}

TEST(CommandTree, WalkErrors) {
  // A ':' after an entry without children leaves no table to search.
  const CommandNode* position = kCommonNodes;
  ASSERT_EQ(WalkKeyword("*RST", &position), 0);
  ASSERT_EQ(WalkKeyword(":", &position), 0);
  EXPECT_EQ(position, nullptr);
  EXPECT_EQ(WalkKeyword("X", &position), -110);
  EXPECT_EQ(WalkKeyword(":", &position), -110);

  EXPECT_EQ(Walk(kRootNodes, "FOO:BAR").status, -113);
  EXPECT_STREQ(LastUnknownKeyword(), "FOO");
  EXPECT_EQ(Walk(kRootNodes, "SYST:ERRORS?").status, -113);
  EXPECT_STREQ(LastUnknownKeyword(), "ERRORS?");
  // Known spellings in the wrong place are as unknown as any other.
  EXPECT_EQ(Walk(kRootNodes, "SYST:CLOS").status, -113);
  EXPECT_STREQ(LastUnknownKeyword(), "CLOS");
  EXPECT_EQ(Walk(kCommonNodes, "CLS").status, -113);
  EXPECT_EQ(Walk(kRootNodes, "*CLS").status, -113);
  // Digits make a keyword unknown; the remembered text is upper case.
  EXPECT_EQ(Walk(kRootNodes, "ROUT:close2").status, -113);
  EXPECT_STREQ(LastUnknownKeyword(), "CLOSE2");

  const std::string keyword31(31, 'Q');
  position = kRootNodes;
  EXPECT_EQ(WalkKeyword(keyword31.c_str(), &position), -113);
  EXPECT_EQ(LastUnknownKeyword(), keyword31);
  EXPECT_EQ(position, kRootNodes);  // a failed step leaves the position alone
  const std::string keyword40 = std::string(30, 'A') + "BCDEFGHIJK";
  EXPECT_EQ(WalkKeyword(keyword40.c_str(), &position), -113);
  EXPECT_EQ(LastUnknownKeyword(), keyword40.substr(0, 31));
}

// Collects every node table below the two roots, guarding the TRIGger:SEQuence cycle.
std::vector<const CommandNode*> AllTables() {
  std::vector<const CommandNode*> tables = {kRootNodes, kCommonNodes};
  std::set<const CommandNode*> seen(tables.begin(), tables.end());
  for (size_t i = 0; i < tables.size(); ++i) {
    for (const CommandNode* entry = tables[i]; entry->token != 0; ++entry) {
      if (entry->child != nullptr && seen.insert(entry->child).second) {
        tables.push_back(entry->child);
      }
    }
  }
  return tables;
}

const char* SpellingOf(int32_t token) {
  for (size_t i = 0; i < kKeywordCount; ++i) {
    if (kKeywordList[i].token == token) return kKeywordList[i].text;
  }
  return nullptr;
}

TEST(CommandTree, EveryEntryIsReachableByItsSpellingAndUnique) {
  const std::vector<const CommandNode*> tables = AllTables();
  EXPECT_GT(tables.size(), 50u);
  for (const CommandNode* table : tables) {
    std::set<int32_t> tokens;
    for (const CommandNode* entry = table; entry->token != 0; ++entry) {
      EXPECT_TRUE(tokens.insert(entry->token).second) << "token twice: " << entry->token;
      const char* spelling = SpellingOf(entry->token);
      ASSERT_NE(spelling, nullptr) << "token without a spelling: " << entry->token;
      const CommandNode* position = table;
      EXPECT_EQ(WalkKeyword(spelling, &position), 0) << spelling;
      EXPECT_EQ(position, entry) << spelling;
    }
  }
}

TEST(CommandTree, RecordsAreWellFormedAndEveryEngineHandlerHasOne) {
  std::set<CommandOperation> validations;
  for (const CommandNode* table : AllTables()) {
    for (const CommandNode* entry = table; entry->token != 0; ++entry) {
      const CommandRecord* record = entry->record;
      if (record == nullptr) continue;
      ASSERT_NE(record->DoContextValidation, nullptr);
      ASSERT_NE(record->DoExecutionConclusion, nullptr);
      const bool lock = record->DoGetSegmentTable != nullptr;
      EXPECT_EQ(lock, record->DoCompletion != nullptr);
      if (lock) {
        EXPECT_EQ(record->DoGetSegmentTable, &SYST_LOCK_DoGetSegmentTable);
        EXPECT_EQ(record->DoCompletion, &SYST_LOCK_DoCompletion);
      }
      validations.insert(record->DoContextValidation);
    }
  }
  const CommandOperation engine_handlers[] = {
      CLS_DoContextValidation,
      ESE_DoContextValidation,
      ESEQuery_DoContextValidation,
      ESRQuery_DoContextValidation,
      IDNQuery_DoContextValidation,
      OPC_DoContextValidation,
      OPCQuery_DoContextValidation,
      OPTQuery_DoContextValidation,
      SRE_DoContextValidation,
      SREQuery_DoContextValidation,
      STBQuery_DoContextValidation,
      WAI_DoContextValidation,
      STATUS_PRESET_DoContextValidation,
      STATUS_OPERATION_EVENTQuery_DoContextValidation,
      STATUS_OPERATION_CONDITIONQuery_DoContextValidation,
      STATUS_OPERATION_ENABLE_DoContextValidation,
      STATUS_OPERATION_ENABLEQuery_DoContextValidation,
      STATUS_QUESTIONABLE_EVENTQuery_DoContextValidation,
      STATUS_QUESTIONABLE_CONDITIONQuery_DoContextValidation,
      STATUS_QUESTIONABLE_ENABLE_DoContextValidation,
      STATUS_QUESTIONABLE_ENABLEQuery_DoContextValidation,
      SYST_ERRORQuery_DoContextValidation,
      SYST_VERSIONQuery_DoContextValidation,
      SYST_KLOCK_DoContextValidation,
      SYST_KLOCKQuery_DoContextValidation,
      SYST_NVUPDATE_DoContextValidation,
      SYST_NVUPDATEQuery_DoContextValidation,
      SYST_LOCK_REQUESTQuery_DoContextValidation,
      SYST_LOCK_RELEASE_DoContextValidation,
      SYST_LOCK_OWNERQuery_DoContextValidation,
      DIAG_DATAQuery_DoContextValidation,
      SYST_EVENTQuery_DoContextValidation,
      SYST_EVENT_COUNTQuery_DoContextValidation,
      SYST_EVENT_CLEAR_DoContextValidation,
      SYST_EVENT_CLEAR_ALL_DoContextValidation,
      DIAG_FPGA_READQuery_DoContextValidation,
      DIAG_FPGA_WRITE_DoContextValidation,
      DIAG_LBUS_READQuery_DoContextValidation,
      DIAG_LBUS_WRITE_DoContextValidation,
      TRACE_SERIALPORT_DoContextValidation,
      TRACE_SERIALNUMBER_DoContextValidation,
      DIAG_MAC_ADDRESS_READQuery_DoContextValidation,
      DIAG_MAC_ADDRESS_WRITE_DoContextValidation,
      DIAG_SERIALNUMBER_READQuery_DoContextValidation,
      DIAG_SERIALNUMBER_WRITE_DoContextValidation,
      DIAG_FANOVERRIDE_DoContextValidation,
      SYST_COMM_ENABLE_DoContextValidation,
      SYST_COMM_ENABLEQuery_DoContextValidation,
      SYST_COMM_GPIB_ADDRESS_DoContextValidation,
      SYST_COMM_GPIB_ADDRESSQuery_DoContextValidation,
      SYST_COMM_LAN_DNSQuery_DoContextValidation,
      SYST_COMM_LAN_DOMAIN_DoContextValidation,
      SYST_COMM_LAN_DESCRIPTION_DoContextValidation,
      SYST_COMM_LAN_DESCRIPTIONQuery_DoContextValidation,
      SYST_COMM_LAN_IDENTIFY_DoContextValidation,
      SYST_COMM_LAN_IDENTIFYQuery_DoContextValidation,
      SYST_COMM_LAN_SERVICE_DoContextValidation,
      SYST_COMM_LAN_SERVICEQuery_DoContextValidation,
      DIAG_FANOVERRIDEQuery_DoContextValidation,
      DIAG_TEMPERATUREQuery_DoContextValidation,
      SYST_COMM_LAN_DOMAINQuery_DoContextValidation,
      SYST_COMM_LAN_GATEWAYQuery_DoContextValidation,
      SYST_COMM_LAN_HOSTNAME_DoContextValidation,
      SYST_COMM_LAN_HOSTNAMEQuery_DoContextValidation,
      SYST_COMM_LAN_IPADDRESSQuery_DoContextValidation,
      SYST_COMM_LAN_KEEPALIVE_DoContextValidation,
      SYST_COMM_LAN_KEEPALIVEQuery_DoContextValidation,
      SYST_COMM_LAN_MACQuery_DoContextValidation,
      SYST_COMM_LAN_MODE_DoContextValidation,
      SYST_COMM_LAN_MODEQuery_DoContextValidation,
      SYST_COMM_LAN_PING_DoContextValidation,
      SYST_COMM_LAN_PINGQuery_DoContextValidation,
      SYST_COMM_LAN_SMASKQuery_DoContextValidation,
      SYST_COMM_LAN_RESET_DoContextValidation,
      SYST_COMM_LAN_MANUAL_DNS_DoContextValidation,
      SYST_COMM_LAN_MANUAL_DNSQuery_DoContextValidation,
      SYST_COMM_LAN_MANUAL_GATEWAY_DoContextValidation,
      SYST_COMM_LAN_MANUAL_GATEWAYQuery_DoContextValidation,
      SYST_COMM_LAN_MANUAL_IPADDRESS_DoContextValidation,
      SYST_COMM_LAN_MANUAL_IPADDRESSQuery_DoContextValidation,
      SYST_COMM_LAN_MANUAL_SMASK_DoContextValidation,
      SYST_COMM_LAN_MANUAL_SMASKQuery_DoContextValidation,
      SYST_MODULE_CHANNEL_LISTQuery_DoContextValidation,
      SYST_MODULE_RELAY_LISTQuery_DoContextValidation,
      DIAG_INTERRUPT_READQuery_DoContextValidation,
      ROUTE_CLOSE_DoContextValidation,
      ROUTE_OPEN_DoContextValidation,
      ROUTE_OPEN_ALL_DoContextValidation,
      ROUTE_CLOSEQuery_DoContextValidation,
      ROUTE_OPENQuery_DoContextValidation,
      ROUTE_CONFIGURE_DoContextValidation,
      ROUTE_CONFIGUREQuery_DoContextValidation,
      ATTENUATE_DoContextValidation,
      ATTENUATEQuery_DoContextValidation,
      SYST_RESET_DoContextValidation,
      ROUTE_INCLUDE_DoContextValidation,
      ROUTE_INCLUDE_DELETE_DoContextValidation,
      ROUTE_INCLUDE_DELETE_ALL_DoContextValidation,
      ROUTE_INCLUDEQuery_DoContextValidation,
      ROUTE_INCLUDE_STORE_DoContextValidation,
      ROUTE_INCLUDE_RECALL_DoContextValidation,
      ROUTE_INCLUDE_RECALL_AUTO_DoContextValidation,
      ROUTE_INCLUDE_RECALL_AUTOQuery_DoContextValidation,
      ROUTE_EXCLUDE_DoContextValidation,
      ROUTE_EXCLUDE_DELETE_DoContextValidation,
      ROUTE_EXCLUDE_DELETE_ALL_DoContextValidation,
      ROUTE_EXCLUDEQuery_DoContextValidation,
      ROUTE_EXCLUDE_STORE_DoContextValidation,
      ROUTE_EXCLUDE_RECALL_DoContextValidation,
      ROUTE_EXCLUDE_RECALL_AUTO_DoContextValidation,
      ROUTE_EXCLUDE_RECALL_AUTOQuery_DoContextValidation,
      ROUTE_PATH_DEFINE_DoContextValidation,
      ROUTE_PATH_DEFINEQuery_DoContextValidation,
      ROUTE_PATH_DELETE_DoContextValidation,
      ROUTE_PATH_DELETE_ALL_DoContextValidation,
      ROUTE_PATH_CATALOGQuery_DoContextValidation,
      ROUTE_PATH_STORE_DoContextValidation,
      ROUTE_PATH_RECALL_DoContextValidation,
      ROUTE_PATH_RECALL_AUTO_DoContextValidation,
      ROUTE_PATH_RECALL_AUTOQuery_DoContextValidation,
      ROUTE_MONITOR_DoContextValidation,
      ROUTE_MONITORQuery_DoContextValidation,
      ROUTE_VERIFY_MASK_DoContextValidation,
      ROUTE_VERIFY_MASKQuery_DoContextValidation,
      ROUTE_VERIFYQuery_DoContextValidation,
      ROUTE_VERIFY_ALLQuery_DoContextValidation,
      ROUTE_VERIFY_STORE_DoContextValidation,
      ROUTE_VERIFY_RECALL_DoContextValidation,
      ROUTE_VERIFY_RECALL_STATE_DoContextValidation,
      ROUTE_VERIFY_RECALL_STATEQuery_DoContextValidation,
      ROUTE_MODULE_DEFINE_DoContextValidation,
      ROUTE_MODULE_DEFINEQuery_DoContextValidation,
      ROUTE_MODULE_DELETE_DoContextValidation,
      ROUTE_MODULE_DELETE_ALL_DoContextValidation,
      ROUTE_MODULE_CATALOGQuery_DoContextValidation,
      ROUTE_MODULE_LISTQuery_DoContextValidation,
      ROUTE_MODULE_SAVE_DoContextValidation,
      ROUTE_MODULE_RECALL_DoContextValidation,
      ROUTE_MODULE_RECALL_STATE_DoContextValidation,
      ROUTE_MODULE_RECALL_STATEQuery_DoContextValidation,
      SAV_DoContextValidation,
      RCL_DoContextValidation,
      RST_DoContextValidation,
      TSTQuery_DoContextValidation,
      SYST_PRESET_DoContextValidation,
      DIAG_RELAY_CYCLESQuery_DoContextValidation,
      DIAG_RELAY_CYCLES_CLEAR_DoContextValidation,
      ROUTE_SCAN_DoContextValidation,
      ROUTE_SCANQuery_DoContextValidation,
      ROUTE_SCAN_CLEAR_DoContextValidation,
      ROUTE_SCAN_STORE_DoContextValidation,
      ROUTE_SCAN_RECALL_DoContextValidation,
      ROUTE_SCAN_RECALL_AUTO_DoContextValidation,
      ROUTE_SCAN_RECALL_AUTOQuery_DoContextValidation,
      TRIG_SOURCE_DoContextValidation,
      TRIG_SOURCEQuery_DoContextValidation,
      TRIG_COUNT_DoContextValidation,
      TRIG_COUNTQuery_DoContextValidation,
      TRIG_DELAY_DoContextValidation,
      TRIG_DELAYQuery_DoContextValidation,
      TRIG_DoContextValidation,
      TRG_DoContextValidation,
      INIT_DoContextValidation,
      INIT_CONTINUOUS_DoContextValidation,
      INIT_CONTINUOUSQuery_DoContextValidation,
      ABORT_DoContextValidation,
      OUTP_TRIG_STATE_DoContextValidation,
      OUTP_TRIG_STATEQuery_DoContextValidation,
      OUTP_TRIG_DELAY_DoContextValidation,
      OUTP_TRIG_DELAYQuery_DoContextValidation,
      DIG_INPUTQuery_DoContextValidation,
      DIG_OUTPUT_DoContextValidation,
      DIG_OUTPUT_STATE_DoContextValidation,
      DIG_OUTPUT_STATEQuery_DoContextValidation,
      DIG_CONFIGURE_DoContextValidation,
      DIG_CONFIGUREQuery_DoContextValidation,
      DIG_SYNC_BUSY_DoContextValidation,
      DIG_SYNC_BUSYQuery_DoContextValidation,
      DIG_SYNC_CLOCK_DoContextValidation,
      DIG_SYNC_CLOCKQuery_DoContextValidation,
      DIG_SYNC_POINTS_DoContextValidation,
      DIG_SYNC_POINTSQuery_DoContextValidation,
      DIG_SYNC_INDEX_DoContextValidation,
      DIG_SYNC_INDEXQuery_DoContextValidation,
      DIG_SYNC_STATE_DoContextValidation,
      DIG_SYNC_STATEQuery_DoContextValidation,
      DIG_SYNC_DATA_DoContextValidation,
      DIG_SYNC_DATAQuery_DoContextValidation,
      DIG_SYNC_CLEAR_DoContextValidation,
  };
  for (CommandOperation handler : engine_handlers) EXPECT_EQ(validations.count(handler), 1u);
  EXPECT_EQ(validations.size(), std::size(engine_handlers));

  // Spot checks that each header selects its own handlers.
  EXPECT_EQ(RecordAt("*IDN?").DoContextValidation, &IDNQuery_DoContextValidation);
  EXPECT_EQ(RecordAt("SYST:EVEN:CLE").DoContextValidation, &SYST_EVENT_CLEAR_DoContextValidation);
  EXPECT_EQ(RecordAt("SYST:EVEN:CLE:ALL").DoContextValidation,
            &SYST_EVENT_CLEAR_ALL_DoContextValidation);
  EXPECT_EQ(RecordAt("DIAG:LOCALBUS:READ?").DoContextValidation,
            &DIAG_LBUS_READQuery_DoContextValidation);
  EXPECT_EQ(RecordAt("SYST:MOD:REL:LIST?").DoContextValidation,
            &SYST_MODULE_RELAY_LISTQuery_DoContextValidation);
  // ROUTe is optional, and the STATe? forms share the state queries' records.
  EXPECT_EQ(RecordAt("ROUT:CLOS:STAT?").DoContextValidation, &ROUTE_CLOSEQuery_DoContextValidation);
  EXPECT_EQ(RecordAt("OPEN:STAT?").DoContextValidation, &ROUTE_OPENQuery_DoContextValidation);
  EXPECT_EQ(RecordAt("CLOSE").DoContextValidation, &ROUTE_CLOSE_DoContextValidation);
  EXPECT_EQ(RecordAt("ROUTE:EXCL:CLE:ALL").DoContextValidation,
            &ROUTE_EXCLUDE_DELETE_ALL_DoContextValidation);
  EXPECT_EQ(RecordAt("INCL:SAVE").DoContextValidation, &ROUTE_INCLUDE_STORE_DoContextValidation);
  EXPECT_EQ(RecordAt("PATH:DEL:NAME").DoContextValidation, &ROUTE_PATH_DELETE_DoContextValidation);
  EXPECT_EQ(RecordAt("ROUT:VER:REC?").DoContextValidation,
            &ROUTE_VERIFY_RECALL_STATEQuery_DoContextValidation);
  EXPECT_EQ(RecordAt("DIAG:REL:CYCL:DEL").DoContextValidation,
            &DIAG_RELAY_CYCLES_CLEAR_DoContextValidation);
  EXPECT_EQ(RecordAt("*TST?").DoContextValidation, &TSTQuery_DoContextValidation);
  EXPECT_EQ(RecordAt("TRIG:SEQ:IMM").DoContextValidation, &TRIG_DoContextValidation);
  EXPECT_EQ(RecordAt("OUTP:DEL?").DoContextValidation, &OUTP_TRIG_DELAYQuery_DoContextValidation);
  EXPECT_EQ(RecordAt("ROUT:SCAN:DELETE").DoContextValidation, &ROUTE_SCAN_CLEAR_DoContextValidation);
  EXPECT_EQ(RecordAt("DIAG:IRQ:READ?").DoContextValidation,
            &DIAG_INTERRUPT_READQuery_DoContextValidation);
  EXPECT_EQ(RecordAt("TRAC:SER").DoContextValidation, &TRACE_SERIALNUMBER_DoContextValidation);
  EXPECT_EQ(RecordAt("SYST:ERR?").DoExecutionConclusion,
            &SYST_ERRORQuery_DoExecutionConclusion);
  EXPECT_EQ(RecordAt("SYST:LOCK:OWNER?").DoExecutionConclusion,
            &SYST_LOCK_OWNERQuery_DoExecutionConclusion);
  EXPECT_EQ(RecordAt("DIAGNOSTIC:DATA?").DoContextValidation,
            &DIAG_DATAQuery_DoContextValidation);
}

TEST(CommandTree, CommonCommandsHaveNoChildren) {
  int count = 0;
  for (const CommandNode* entry = kCommonNodes; entry->token != 0; ++entry, ++count) {
    EXPECT_EQ(entry->child, nullptr);
  }
  EXPECT_EQ(count, 17);
  for (const char* header : {"*CLS", "*ESE", "*ESE?", "*ESR?", "*IDN?", "*OPC", "*OPC?", "*OPT?",
                             "*SRE", "*SRE?", "*STB?", "*WAI"}) {
    EXPECT_NE(At(header).record, nullptr) << header;
  }
}

}  // namespace

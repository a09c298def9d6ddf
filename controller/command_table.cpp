// The command tree of the controller as constant data: the sorted keyword list, the
// command records of every subsystem's handlers and the node tables. Commands whose
// handlers do not exist yet already stand in the tree, without a record; such a
// header is reported as incomplete.
#include "controller/command_table.h"

#include <iterator>

#include "cards/card_handlers.h"
#include "hardware/event_log.h"
#include "hardware/hardware_handlers.h"
#include "lan/lan_handlers.h"
#include "scanning/scanning_handlers.h"
#include "scpi/scpi_engine.h"
#include "scpi/scpi_handlers.h"
#include "switching/channel_list.h"
#include "switching/paths.h"
#include "switching/relay_stores.h"
#include "switching/switching_handlers.h"

// ---------------------------------------------------------------------------------
// Keyword list, sorted in strcmp order.

constexpr KeywordEntry kKeywordList[] = {
    {"*CLS", TOK_STAR_CLS},
    {"*ESE", TOK_STAR_ESE},
    {"*ESE?", TOK_STAR_ESE_QUERY},
    {"*ESR?", TOK_STAR_ESR_QUERY},
    {"*IDN?", TOK_STAR_IDN_QUERY},
    {"*OPC", TOK_STAR_OPC},
    {"*OPC?", TOK_STAR_OPC_QUERY},
    {"*OPT?", TOK_STAR_OPT_QUERY},
    {"*RCL", TOK_STAR_RCL},
    {"*RST", TOK_STAR_RST},
    {"*SAV", TOK_STAR_SAV},
    {"*SRE", TOK_STAR_SRE},
    {"*SRE?", TOK_STAR_SRE_QUERY},
    {"*STB?", TOK_STAR_STB_QUERY},
    {"*TRG", TOK_STAR_TRG},
    {"*TST?", TOK_STAR_TST_QUERY},
    {"*WAI", TOK_STAR_WAI},
    {"ABOR", TOK_ABORT},
    {"ABORT", TOK_ABORT},
    {"ADDR", TOK_ADDRESS},
    {"ADDR?", TOK_ADDRESS_QUERY},
    {"ADDRESS", TOK_ADDRESS},
    {"ADDRESS?", TOK_ADDRESS_QUERY},
    {"ALL", TOK_ALL},
    {"ALL?", TOK_ALL_QUERY},
    {"ASYN", TOK_ASYNCHRONOUS},
    {"ASYNCHRONOUS", TOK_ASYNCHRONOUS},
    {"ATT", TOK_ATTENUATE},
    {"ATT?", TOK_ATTENUATE_QUERY},
    {"ATTENUATE", TOK_ATTENUATE},
    {"ATTENUATE?", TOK_ATTENUATE_QUERY},
    {"AUTO", TOK_AUTO},
    {"AUTO?", TOK_AUTO_QUERY},
    {"BBM", TOK_BBM},
    {"BMAP?", TOK_BMAP_QUERY},
    {"BUS", TOK_BUS},
    {"BUSY", TOK_BUSY},
    {"BUSY?", TOK_BUSY_QUERY},
    {"CAT?", TOK_CATALOG_QUERY},
    {"CATALOG?", TOK_CATALOG_QUERY},
    {"CHAN", TOK_CHANNEL},
    {"CHANNEL", TOK_CHANNEL},
    {"CLE", TOK_CLEAR},
    {"CLEAR", TOK_CLEAR},
    {"CLOC", TOK_CLOCK},
    {"CLOC?", TOK_CLOCK_QUERY},
    {"CLOCK", TOK_CLOCK},
    {"CLOCK?", TOK_CLOCK_QUERY},
    {"CLOS", TOK_CLOSE},
    {"CLOS?", TOK_CLOSE_QUERY},
    {"CLOSE", TOK_CLOSE},
    {"CLOSE?", TOK_CLOSE_QUERY},
    {"COMM", TOK_COMMUNICATE},
    {"COMMUNICATE", TOK_COMMUNICATE},
    {"COND?", TOK_CONDITION_QUERY},
    {"CONDITION?", TOK_CONDITION_QUERY},
    {"CONF", TOK_CONFIGURE},
    {"CONF?", TOK_CONFIGURE_QUERY},
    {"CONFIGURE", TOK_CONFIGURE},
    {"CONFIGURE?", TOK_CONFIGURE_QUERY},
    {"CONT", TOK_CONTINUOUS},
    {"CONT?", TOK_CONTINUOUS_QUERY},
    {"CONTINUOUS", TOK_CONTINUOUS},
    {"CONTINUOUS?", TOK_CONTINUOUS_QUERY},
    {"COUN", TOK_COUNT},
    {"COUN?", TOK_COUNT_QUERY},
    {"COUNT", TOK_COUNT},
    {"COUNT?", TOK_COUNT_QUERY},
    {"CYCL", TOK_CYCLES},
    {"CYCL?", TOK_CYCLES_QUERY},
    {"CYCLES", TOK_CYCLES},
    {"CYCLES?", TOK_CYCLES_QUERY},
    {"DATA", TOK_DATA},
    {"DATA?", TOK_DATA_QUERY},
    {"DATE", TOK_DATE},
    {"DATE?", TOK_DATE_QUERY},
    {"DEF", TOK_DEFINE},
    {"DEF?", TOK_DEFINE_QUERY},
    {"DEFAULT", TOK_DEFAULT},
    {"DEFINE", TOK_DEFINE},
    {"DEFINE?", TOK_DEFINE_QUERY},
    {"DEL", TOK_DEL},
    {"DEL?", TOK_DELAY_QUERY},
    {"DELAY", TOK_DELAY},
    {"DELAY?", TOK_DELAY_QUERY},
    {"DELETE", TOK_DELETE},
    {"DESC", TOK_DESCRIPTION},
    {"DESC?", TOK_DESCRIPTION_QUERY},
    {"DESCRIPTION", TOK_DESCRIPTION},
    {"DESCRIPTION?", TOK_DESCRIPTION_QUERY},
    {"DIAG", TOK_DIAGNOSTIC},
    {"DIAGNOSTIC", TOK_DIAGNOSTIC},
    {"DIG", TOK_DIGITAL},
    {"DIGITAL", TOK_DIGITAL},
    {"DNS", TOK_DNS},
    {"DNS?", TOK_DNS_QUERY},
    {"DOM", TOK_DOMAIN},
    {"DOM?", TOK_DOMAIN_QUERY},
    {"DOMAIN", TOK_DOMAIN},
    {"DOMAIN?", TOK_DOMAIN_QUERY},
    {"ENAB", TOK_ENABLE},
    {"ENAB?", TOK_ENABLE_QUERY},
    {"ENABLE", TOK_ENABLE},
    {"ENABLE?", TOK_ENABLE_QUERY},
    {"ERR?", TOK_ERROR_QUERY},
    {"ERROR?", TOK_ERROR_QUERY},
    {"EVEN", TOK_EVENT},
    {"EVEN?", TOK_EVENT_QUERY},
    {"EVENT", TOK_EVENT},
    {"EVENT?", TOK_EVENT_QUERY},
    {"EXCL", TOK_EXCLUDE},
    {"EXCL?", TOK_EXCLUDE_QUERY},
    {"EXCLUDE", TOK_EXCLUDE},
    {"EXCLUDE?", TOK_EXCLUDE_QUERY},
    {"EXT", TOK_EXT},
    {"FAN", TOK_FANOVERRIDE},
    {"FAN?", TOK_FANOVERRIDE_QUERY},
    {"FANOVERRIDE", TOK_FANOVERRIDE},
    {"FANOVERRIDE?", TOK_FANOVERRIDE_QUERY},
    {"FPGA", TOK_FPGA},
    {"GATE", TOK_GATEWAY},
    {"GATE?", TOK_GATEWAY_QUERY},
    {"GATEWAY", TOK_GATEWAY},
    {"GATEWAY?", TOK_GATEWAY_QUERY},
    {"GPIB", TOK_GPIB},
    {"HMAP?", TOK_HMAP_QUERY},
    {"HOLD", TOK_HOLD},
    {"HOST", TOK_HOSTNAME},
    {"HOST?", TOK_HOSTNAME_QUERY},
    {"HOSTNAME", TOK_HOSTNAME},
    {"HOSTNAME?", TOK_HOSTNAME_QUERY},
    {"IDBYTE", TOK_IDBYTE},
    {"IDEN", TOK_IDENTIFY},
    {"IDEN?", TOK_IDENTIFY_QUERY},
    {"IDENTIFY", TOK_IDENTIFY},
    {"IDENTIFY?", TOK_IDENTIFY_QUERY},
    {"IMM", TOK_IMMEDIATE},
    {"IMMEDIATE", TOK_IMMEDIATE},
    {"INCL", TOK_INCLUDE},
    {"INCL?", TOK_INCLUDE_QUERY},
    {"INCLUDE", TOK_INCLUDE},
    {"INCLUDE?", TOK_INCLUDE_QUERY},
    {"IND", TOK_INDEX},
    {"IND?", TOK_INDEX_QUERY},
    {"INDEX", TOK_INDEX},
    {"INDEX?", TOK_INDEX_QUERY},
    {"INIT", TOK_INITIATE},
    {"INITIATE", TOK_INITIATE},
    {"INP?", TOK_INPUT_QUERY},
    {"INPUT?", TOK_INPUT_QUERY},
    {"INST", TOK_INSTALL},
    {"INSTALL", TOK_INSTALL},
    {"INT", TOK_INTERRUPT},
    {"INTERRUPT", TOK_INTERRUPT},
    {"INV", TOK_INVERTED},
    {"INVERTED", TOK_INVERTED},
    {"IPAD", TOK_IPADDRESS},
    {"IPAD?", TOK_IPADDRESS_QUERY},
    {"IPADDRESS", TOK_IPADDRESS},
    {"IPADDRESS?", TOK_IPADDRESS_QUERY},
    {"IRQ", TOK_INTERRUPT},
    {"KEEP", TOK_KEEPALIVE},
    {"KEEP?", TOK_KEEPALIVE_QUERY},
    {"KEEPALIVE", TOK_KEEPALIVE},
    {"KEEPALIVE?", TOK_KEEPALIVE_QUERY},
    {"KLOC", TOK_KLOCK},
    {"KLOC?", TOK_KLOCK_QUERY},
    {"KLOCK", TOK_KLOCK},
    {"KLOCK?", TOK_KLOCK_QUERY},
    {"LAN", TOK_LAN},
    {"LBUS", TOK_LOCALBUS},
    {"LIST?", TOK_LIST_QUERY},
    {"LOAD", TOK_LOAD},
    {"LOCALBUS", TOK_LOCALBUS},
    {"LOCK", TOK_LOCK},
    {"MAC", TOK_MAC},
    {"MAC?", TOK_MAC_QUERY},
    {"MAN", TOK_MANUAL},
    {"MANUAL", TOK_MANUAL},
    {"MASK", TOK_MASK},
    {"MASK?", TOK_MASK_QUERY},
    {"MAX", TOK_MAXIMUM},
    {"MAXIMUM", TOK_MAXIMUM},
    {"MBB", TOK_MBB},
    {"MIN", TOK_MINIMUM},
    {"MINIMUM", TOK_MINIMUM},
    {"MMEM", TOK_MMEMORY},
    {"MMEMORY", TOK_MMEMORY},
    {"MOD", TOK_MODULE},
    {"MODE", TOK_MODE},
    {"MODE?", TOK_MODE_QUERY},
    {"MODULE", TOK_MODULE},
    {"MON", TOK_MONITOR},
    {"MON?", TOK_MONITOR_QUERY},
    {"MONITOR", TOK_MONITOR},
    {"MONITOR?", TOK_MONITOR_QUERY},
    {"NAME", TOK_NAME},
    {"NORM", TOK_NORMAL},
    {"NORMAL", TOK_NORMAL},
    {"NVUPD", TOK_NVUPDATE},
    {"NVUPD?", TOK_NVUPDATE_QUERY},
    {"NVUPDATE", TOK_NVUPDATE},
    {"NVUPDATE?", TOK_NVUPDATE_QUERY},
    {"OFF", TOK_OFF},
    {"ON", TOK_ON},
    {"OPEN", TOK_OPEN},
    {"OPEN?", TOK_OPEN_QUERY},
    {"OPER", TOK_OPERATION},
    {"OPER?", TOK_OPERATION_QUERY},
    {"OPERATION", TOK_OPERATION},
    {"OPERATION?", TOK_OPERATION_QUERY},
    {"OUTP", TOK_OUTPUT},
    {"OUTPUT", TOK_OUTPUT},
    {"OWNER?", TOK_OWNER_QUERY},
    {"PATH", TOK_PATH},
    {"PING", TOK_PING},
    {"PING?", TOK_PING_QUERY},
    {"PMAP", TOK_PMAP},
    {"PMAP?", TOK_PMAP_QUERY},
    {"POIN", TOK_POINTS},
    {"POIN?", TOK_POINTS_QUERY},
    {"POINTS", TOK_POINTS},
    {"POINTS?", TOK_POINTS_QUERY},
    {"POL", TOK_POLARITY},
    {"POL?", TOK_POLARITY_QUERY},
    {"POLARITY", TOK_POLARITY},
    {"POLARITY?", TOK_POLARITY_QUERY},
    {"PRES", TOK_PRESET},
    {"PRESET", TOK_PRESET},
    {"QUES", TOK_QUESTIONABLE},
    {"QUES?", TOK_QUESTIONABLE_QUERY},
    {"QUESTIONABLE", TOK_QUESTIONABLE},
    {"QUESTIONABLE?", TOK_QUESTIONABLE_QUERY},
    {"READ?", TOK_READ_QUERY},
    {"REC", TOK_RECALL},
    {"REC?", TOK_RECALL_QUERY},
    {"RECALL", TOK_RECALL},
    {"RECALL?", TOK_RECALL_QUERY},
    {"REL", TOK_RELAY},
    {"RELAY", TOK_RELAY},
    {"RELEASE", TOK_RELEASE},
    {"REQ?", TOK_REQUEST_QUERY},
    {"REQUEST?", TOK_REQUEST_QUERY},
    {"RES", TOK_RESET},
    {"RESET", TOK_RESET},
    {"ROUT", TOK_ROUTE},
    {"ROUTE", TOK_ROUTE},
    {"SAV", TOK_SAVE},
    {"SAVE", TOK_SAVE},
    {"SCAN", TOK_SCAN},
    {"SCAN?", TOK_SCAN_QUERY},
    {"SEQ", TOK_SEQUENCE},
    {"SEQUENCE", TOK_SEQUENCE},
    {"SER", TOK_SERIALNUMBER},
    {"SERIALNUMBER", TOK_SERIALNUMBER},
    {"SERIALPORT", TOK_SERIALPORT},
    {"SERV", TOK_SERVICE},
    {"SERV?", TOK_SERVICE_QUERY},
    {"SERVICE", TOK_SERVICE},
    {"SERVICE?", TOK_SERVICE_QUERY},
    {"SMAS", TOK_SMASK},
    {"SMAS?", TOK_SMASK_QUERY},
    {"SMASK", TOK_SMASK},
    {"SMASK?", TOK_SMASK_QUERY},
    {"SOUR", TOK_SOURCE},
    {"SOUR?", TOK_SOURCE_QUERY},
    {"SOURCE", TOK_SOURCE},
    {"SOURCE?", TOK_SOURCE_QUERY},
    {"STAT", TOK_STAT},
    {"STAT?", TOK_STATE_QUERY},
    {"STATE", TOK_STATE},
    {"STATE?", TOK_STATE_QUERY},
    {"STATUS", TOK_STATUS},
    {"STEP?", TOK_STEP_QUERY},
    {"STOR", TOK_STORE},
    {"STORE", TOK_STORE},
    {"SYNC", TOK_SYNCHRONOUS},
    {"SYNCHRONOUS", TOK_SYNCHRONOUS},
    {"SYST", TOK_SYSTEM},
    {"SYSTEM", TOK_SYSTEM},
    {"TEMP?", TOK_TEMPERATURE_QUERY},
    {"TEMPERATURE?", TOK_TEMPERATURE_QUERY},
    {"TESTMODE", TOK_TESTMODE},
    {"TIME", TOK_TIME},
    {"TIME?", TOK_TIME_QUERY},
    {"TMAP?", TOK_TMAP_QUERY},
    {"TRAC", TOK_TRACE},
    {"TRACE", TOK_TRACE},
    {"TRIG", TOK_TRIGGER},
    {"TRIG?", TOK_TRIGGER_QUERY},
    {"TRIGGER", TOK_TRIGGER},
    {"TRIGGER?", TOK_TRIGGER_QUERY},
    {"UPD", TOK_NVUPDATE},
    {"UPD?", TOK_NVUPDATE_QUERY},
    {"UPDATE", TOK_NVUPDATE},
    {"UPDATE?", TOK_NVUPDATE_QUERY},
    {"VER", TOK_VERIFY},
    {"VER?", TOK_VERIFY_QUERY},
    {"VERIFY", TOK_VERIFY},
    {"VERIFY?", TOK_VERIFY_QUERY},
    {"VERS?", TOK_VERSION_QUERY},
    {"VERSION?", TOK_VERSION_QUERY},
    {"WRIT", TOK_WRITE},
    {"WRITE", TOK_WRITE},
};

namespace {

constexpr int ConstexprStrcmp(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
}

constexpr bool KeywordListSorted() {
  for (size_t i = 1; i < std::size(kKeywordList); ++i) {
    if (ConstexprStrcmp(kKeywordList[i - 1].text, kKeywordList[i].text) >= 0) return false;
  }
  return true;
}

// The parser folds case before the lookup, so a lower-case spelling could never match.
constexpr bool KeywordListUpperCase() {
  for (const KeywordEntry& entry : kKeywordList) {
    for (const char* p = entry.text; *p != '\0'; ++p) {
      if (*p >= 'a' && *p <= 'z') return false;
    }
  }
  return true;
}

static_assert(std::size(kKeywordList) == kKeywordCount);
static_assert(KeywordListSorted(), "the binary search needs strictly ascending spellings");
static_assert(KeywordListUpperCase());

// ---------------------------------------------------------------------------------
// Command records of the engine's own commands. Every handler pair follows the
// <NAME>_DoContextValidation / <NAME>_DoExecutionConclusion naming, so the record is
// spelled once here from NAME.

#define ENGINE_RECORD(NAME)                                      \
  constexpr CommandRecord k##NAME = {                            \
      .DoContextValidation = NAME##_DoContextValidation,         \
      .DoGetSegmentTable = nullptr,                              \
      .DoExecutionConclusion = NAME##_DoExecutionConclusion,     \
      .DoCompletion = nullptr,                                   \
  }

// The SYSTem:LOCK records also carry the (empty) segment-table and completion
// operations; the pipeline refuses a record with a segment-table operation.
#define LOCK_RECORD(NAME)                                        \
  constexpr CommandRecord k##NAME = {                            \
      .DoContextValidation = NAME##_DoContextValidation,         \
      .DoGetSegmentTable = SYST_LOCK_DoGetSegmentTable,          \
      .DoExecutionConclusion = NAME##_DoExecutionConclusion,     \
      .DoCompletion = SYST_LOCK_DoCompletion,                    \
  }

ENGINE_RECORD(CLS);
ENGINE_RECORD(ESE);
ENGINE_RECORD(ESEQuery);
ENGINE_RECORD(ESRQuery);
ENGINE_RECORD(IDNQuery);
ENGINE_RECORD(OPC);
ENGINE_RECORD(OPCQuery);
ENGINE_RECORD(OPTQuery);
ENGINE_RECORD(SRE);
ENGINE_RECORD(SREQuery);
ENGINE_RECORD(STBQuery);
ENGINE_RECORD(WAI);
ENGINE_RECORD(STATUS_PRESET);
ENGINE_RECORD(STATUS_OPERATION_EVENTQuery);
ENGINE_RECORD(STATUS_OPERATION_CONDITIONQuery);
ENGINE_RECORD(STATUS_OPERATION_ENABLE);
ENGINE_RECORD(STATUS_OPERATION_ENABLEQuery);
ENGINE_RECORD(STATUS_QUESTIONABLE_EVENTQuery);
ENGINE_RECORD(STATUS_QUESTIONABLE_CONDITIONQuery);
ENGINE_RECORD(STATUS_QUESTIONABLE_ENABLE);
ENGINE_RECORD(STATUS_QUESTIONABLE_ENABLEQuery);
ENGINE_RECORD(SYST_ERRORQuery);
ENGINE_RECORD(SYST_VERSIONQuery);
ENGINE_RECORD(SYST_KLOCK);
ENGINE_RECORD(SYST_KLOCKQuery);
ENGINE_RECORD(SYST_NVUPDATE);
ENGINE_RECORD(SYST_NVUPDATEQuery);
LOCK_RECORD(SYST_LOCK_REQUESTQuery);
LOCK_RECORD(SYST_LOCK_RELEASE);
LOCK_RECORD(SYST_LOCK_OWNERQuery);
ENGINE_RECORD(DIAG_DATAQuery);

// Chassis hardware: event log, FPGA and local-bus service commands, trace switches,
// the board's FRAM records and the fan override.
ENGINE_RECORD(SYST_EVENTQuery);
ENGINE_RECORD(SYST_EVENT_COUNTQuery);
ENGINE_RECORD(SYST_EVENT_CLEAR);
ENGINE_RECORD(SYST_EVENT_CLEAR_ALL);
ENGINE_RECORD(DIAG_FPGA_READQuery);
ENGINE_RECORD(DIAG_FPGA_WRITE);
ENGINE_RECORD(DIAG_LBUS_READQuery);
ENGINE_RECORD(DIAG_LBUS_WRITE);
ENGINE_RECORD(TRACE_SERIALPORT);
ENGINE_RECORD(TRACE_SERIALNUMBER);
ENGINE_RECORD(DIAG_MAC_ADDRESS_READQuery);
ENGINE_RECORD(DIAG_MAC_ADDRESS_WRITE);
ENGINE_RECORD(DIAG_SERIALNUMBER_READQuery);
ENGINE_RECORD(DIAG_SERIALNUMBER_WRITE);
ENGINE_RECORD(DIAG_FANOVERRIDE);
ENGINE_RECORD(DIAG_FANOVERRIDEQuery);
ENGINE_RECORD(DIAG_TEMPERATUREQuery);

// SYSTem:COMMunicate: the interfaces' enables, the GPIB address, the LAN settings.
ENGINE_RECORD(SYST_COMM_GPIB_ADDRESS);
ENGINE_RECORD(SYST_COMM_GPIB_ADDRESSQuery);
ENGINE_RECORD(SYST_COMM_LAN_MANUAL_IPADDRESS);
ENGINE_RECORD(SYST_COMM_LAN_MANUAL_IPADDRESSQuery);
ENGINE_RECORD(SYST_COMM_LAN_MANUAL_DNS);
ENGINE_RECORD(SYST_COMM_LAN_MANUAL_DNSQuery);
ENGINE_RECORD(SYST_COMM_LAN_MANUAL_SMASK);
ENGINE_RECORD(SYST_COMM_LAN_MANUAL_SMASKQuery);
ENGINE_RECORD(SYST_COMM_LAN_MANUAL_GATEWAY);
ENGINE_RECORD(SYST_COMM_LAN_MANUAL_GATEWAYQuery);
ENGINE_RECORD(SYST_COMM_LAN_DESCRIPTION);
ENGINE_RECORD(SYST_COMM_LAN_DESCRIPTIONQuery);
ENGINE_RECORD(SYST_COMM_LAN_DNSQuery);
ENGINE_RECORD(SYST_COMM_LAN_IDENTIFY);
ENGINE_RECORD(SYST_COMM_LAN_IDENTIFYQuery);
ENGINE_RECORD(SYST_COMM_LAN_SERVICE);
ENGINE_RECORD(SYST_COMM_LAN_SERVICEQuery);
ENGINE_RECORD(SYST_COMM_LAN_DOMAIN);
ENGINE_RECORD(SYST_COMM_LAN_DOMAINQuery);
ENGINE_RECORD(SYST_COMM_LAN_GATEWAYQuery);
ENGINE_RECORD(SYST_COMM_LAN_HOSTNAME);
ENGINE_RECORD(SYST_COMM_LAN_HOSTNAMEQuery);
ENGINE_RECORD(SYST_COMM_LAN_IPADDRESSQuery);
ENGINE_RECORD(SYST_COMM_LAN_KEEPALIVE);
ENGINE_RECORD(SYST_COMM_LAN_KEEPALIVEQuery);
ENGINE_RECORD(SYST_COMM_LAN_MACQuery);
ENGINE_RECORD(SYST_COMM_LAN_SMASKQuery);
ENGINE_RECORD(SYST_COMM_LAN_MODE);
ENGINE_RECORD(SYST_COMM_LAN_MODEQuery);
ENGINE_RECORD(SYST_COMM_LAN_PING);
ENGINE_RECORD(SYST_COMM_LAN_PINGQuery);
ENGINE_RECORD(SYST_COMM_LAN_RESET);
ENGINE_RECORD(SYST_COMM_ENABLE);
ENGINE_RECORD(SYST_COMM_ENABLEQuery);

// Cards: channel and relay lists of a module, the slots' interrupt bytes.
ENGINE_RECORD(SYST_MODULE_CHANNEL_LISTQuery);
ENGINE_RECORD(SYST_MODULE_RELAY_LISTQuery);
ENGINE_RECORD(DIAG_INTERRUPT_READQuery);

// Switching: relay operations and modes, the attenuator, interlock lists, SYSTem:RESet.
ENGINE_RECORD(ROUTE_CLOSE);
ENGINE_RECORD(ROUTE_OPEN);
ENGINE_RECORD(ROUTE_OPEN_ALL);
ENGINE_RECORD(ROUTE_CLOSEQuery);
ENGINE_RECORD(ROUTE_OPENQuery);
ENGINE_RECORD(ROUTE_CONFIGURE);
ENGINE_RECORD(ROUTE_CONFIGUREQuery);
ENGINE_RECORD(ATTENUATE);
ENGINE_RECORD(ATTENUATEQuery);
ENGINE_RECORD(SYST_RESET);
ENGINE_RECORD(ROUTE_INCLUDE);
ENGINE_RECORD(ROUTE_INCLUDE_DELETE);
ENGINE_RECORD(ROUTE_INCLUDE_DELETE_ALL);
ENGINE_RECORD(ROUTE_INCLUDEQuery);
ENGINE_RECORD(ROUTE_INCLUDE_STORE);
ENGINE_RECORD(ROUTE_INCLUDE_RECALL);
ENGINE_RECORD(ROUTE_INCLUDE_RECALL_AUTO);
ENGINE_RECORD(ROUTE_INCLUDE_RECALL_AUTOQuery);
ENGINE_RECORD(ROUTE_EXCLUDE);
ENGINE_RECORD(ROUTE_EXCLUDE_DELETE);
ENGINE_RECORD(ROUTE_EXCLUDE_DELETE_ALL);
ENGINE_RECORD(ROUTE_EXCLUDEQuery);
ENGINE_RECORD(ROUTE_EXCLUDE_STORE);
ENGINE_RECORD(ROUTE_EXCLUDE_RECALL);
ENGINE_RECORD(ROUTE_EXCLUDE_RECALL_AUTO);
ENGINE_RECORD(ROUTE_EXCLUDE_RECALL_AUTOQuery);
// Named paths, verification, module names, saved states, the instrument reset,
// relay cycle counters.
ENGINE_RECORD(ROUTE_PATH_DEFINE);
ENGINE_RECORD(ROUTE_PATH_DEFINEQuery);
ENGINE_RECORD(ROUTE_PATH_DELETE);
ENGINE_RECORD(ROUTE_PATH_DELETE_ALL);
ENGINE_RECORD(ROUTE_PATH_CATALOGQuery);
ENGINE_RECORD(ROUTE_PATH_STORE);
ENGINE_RECORD(ROUTE_PATH_RECALL);
ENGINE_RECORD(ROUTE_PATH_RECALL_AUTO);
ENGINE_RECORD(ROUTE_PATH_RECALL_AUTOQuery);
ENGINE_RECORD(ROUTE_MONITOR);
ENGINE_RECORD(ROUTE_MONITORQuery);
ENGINE_RECORD(ROUTE_VERIFY_MASK);
ENGINE_RECORD(ROUTE_VERIFY_MASKQuery);
ENGINE_RECORD(ROUTE_VERIFYQuery);
ENGINE_RECORD(ROUTE_VERIFY_ALLQuery);
ENGINE_RECORD(ROUTE_VERIFY_STORE);
ENGINE_RECORD(ROUTE_VERIFY_RECALL);
ENGINE_RECORD(ROUTE_VERIFY_RECALL_STATE);
ENGINE_RECORD(ROUTE_VERIFY_RECALL_STATEQuery);
ENGINE_RECORD(ROUTE_MODULE_DEFINE);
ENGINE_RECORD(ROUTE_MODULE_DEFINEQuery);
ENGINE_RECORD(ROUTE_MODULE_DELETE);
ENGINE_RECORD(ROUTE_MODULE_DELETE_ALL);
ENGINE_RECORD(ROUTE_MODULE_CATALOGQuery);
ENGINE_RECORD(ROUTE_MODULE_LISTQuery);
ENGINE_RECORD(ROUTE_MODULE_SAVE);
ENGINE_RECORD(ROUTE_MODULE_RECALL);
ENGINE_RECORD(ROUTE_MODULE_RECALL_STATE);
ENGINE_RECORD(ROUTE_MODULE_RECALL_STATEQuery);
ENGINE_RECORD(SAV);
ENGINE_RECORD(RCL);
ENGINE_RECORD(RST);
ENGINE_RECORD(TSTQuery);
ENGINE_RECORD(SYST_PRESET);
ENGINE_RECORD(DIAG_RELAY_CYCLESQuery);
ENGINE_RECORD(DIAG_RELAY_CYCLES_CLEAR);
// Scanning: the scan list, trigger settings, INITiate, ABORt, triggers, output trigger.
ENGINE_RECORD(ROUTE_SCAN);
ENGINE_RECORD(ROUTE_SCANQuery);
ENGINE_RECORD(ROUTE_SCAN_CLEAR);
ENGINE_RECORD(ROUTE_SCAN_STORE);
ENGINE_RECORD(ROUTE_SCAN_RECALL);
ENGINE_RECORD(ROUTE_SCAN_RECALL_AUTO);
ENGINE_RECORD(ROUTE_SCAN_RECALL_AUTOQuery);
ENGINE_RECORD(TRIG_SOURCE);
ENGINE_RECORD(TRIG_SOURCEQuery);
ENGINE_RECORD(TRIG_COUNT);
ENGINE_RECORD(TRIG_COUNTQuery);
ENGINE_RECORD(TRIG_DELAY);
ENGINE_RECORD(TRIG_DELAYQuery);
ENGINE_RECORD(TRIG);
ENGINE_RECORD(TRG);
ENGINE_RECORD(INIT);
ENGINE_RECORD(INIT_CONTINUOUS);
ENGINE_RECORD(INIT_CONTINUOUSQuery);
ENGINE_RECORD(ABORT);
ENGINE_RECORD(OUTP_TRIG_STATE);
ENGINE_RECORD(OUTP_TRIG_STATEQuery);
ENGINE_RECORD(OUTP_TRIG_DELAY);
ENGINE_RECORD(OUTP_TRIG_DELAYQuery);
// DIGital.
ENGINE_RECORD(DIG_INPUTQuery);
ENGINE_RECORD(DIG_OUTPUT);
ENGINE_RECORD(DIG_OUTPUT_STATE);
ENGINE_RECORD(DIG_OUTPUT_STATEQuery);
ENGINE_RECORD(DIG_CONFIGURE);
ENGINE_RECORD(DIG_CONFIGUREQuery);
ENGINE_RECORD(DIG_SYNC_BUSY);
ENGINE_RECORD(DIG_SYNC_BUSYQuery);
ENGINE_RECORD(DIG_SYNC_CLOCK);
ENGINE_RECORD(DIG_SYNC_CLOCKQuery);
ENGINE_RECORD(DIG_SYNC_POINTS);
ENGINE_RECORD(DIG_SYNC_POINTSQuery);
ENGINE_RECORD(DIG_SYNC_INDEX);
ENGINE_RECORD(DIG_SYNC_INDEXQuery);
ENGINE_RECORD(DIG_SYNC_STATE);
ENGINE_RECORD(DIG_SYNC_STATEQuery);
ENGINE_RECORD(DIG_SYNC_DATA);
ENGINE_RECORD(DIG_SYNC_DATAQuery);
ENGINE_RECORD(DIG_SYNC_CLEAR);

#undef ENGINE_RECORD
#undef LOCK_RECORD

}  // namespace

// ---------------------------------------------------------------------------------
// Node tables, leaves first. An entry without a record only leads to its children;
// `{}` ends a table.

// Headers that begin with '*': the common commands; none has children.
constexpr CommandNode kCommonNodes[] = {
    {.token = TOK_STAR_CLS, .child = nullptr, .record = &kCLS},
    {.token = TOK_STAR_ESE, .child = nullptr, .record = &kESE},
    {.token = TOK_STAR_ESE_QUERY, .child = nullptr, .record = &kESEQuery},
    {.token = TOK_STAR_ESR_QUERY, .child = nullptr, .record = &kESRQuery},
    {.token = TOK_STAR_IDN_QUERY, .child = nullptr, .record = &kIDNQuery},
    {.token = TOK_STAR_OPC, .child = nullptr, .record = &kOPC},
    {.token = TOK_STAR_OPC_QUERY, .child = nullptr, .record = &kOPCQuery},
    {.token = TOK_STAR_OPT_QUERY, .child = nullptr, .record = &kOPTQuery},
    {.token = TOK_STAR_RCL, .child = nullptr, .record = &kRCL},
    {.token = TOK_STAR_RST, .child = nullptr, .record = &kRST},
    {.token = TOK_STAR_SAV, .child = nullptr, .record = &kSAV},
    {.token = TOK_STAR_SRE, .child = nullptr, .record = &kSRE},
    {.token = TOK_STAR_SRE_QUERY, .child = nullptr, .record = &kSREQuery},
    {.token = TOK_STAR_STB_QUERY, .child = nullptr, .record = &kSTBQuery},
    {.token = TOK_STAR_TRG, .child = nullptr, .record = &kTRG},
    {.token = TOK_STAR_TST_QUERY, .child = nullptr, .record = &kTSTQuery},
    {.token = TOK_STAR_WAI, .child = nullptr, .record = &kWAI},
    {},
};

namespace {

// TRIGger. SEQuence leads back into this table, so TRIG:SEQ:... is TRIG:...
constexpr CommandNode kTrigger[] = {
    {.token = TOK_SOURCE, .child = nullptr, .record = &kTRIG_SOURCE},
    {.token = TOK_SOURCE_QUERY, .child = nullptr, .record = &kTRIG_SOURCEQuery},
    {.token = TOK_COUNT, .child = nullptr, .record = &kTRIG_COUNT},
    {.token = TOK_COUNT_QUERY, .child = nullptr, .record = &kTRIG_COUNTQuery},
    {.token = TOK_IMMEDIATE, .child = nullptr, .record = &kTRIG},
    {.token = TOK_DELAY, .child = nullptr, .record = &kTRIG_DELAY},
    {.token = TOK_DEL, .child = nullptr, .record = &kTRIG_DELAY},
    {.token = TOK_DELAY_QUERY, .child = nullptr, .record = &kTRIG_DELAYQuery},
    {.token = TOK_SEQUENCE, .child = kTrigger, .record = &kTRIG},
    {},
};

// OUTPut
constexpr CommandNode kOutputTrigger[] = {
    {.token = TOK_STATE, .child = nullptr, .record = &kOUTP_TRIG_STATE},
    {.token = TOK_STAT, .child = nullptr, .record = &kOUTP_TRIG_STATE},
    {.token = TOK_STATE_QUERY, .child = nullptr, .record = &kOUTP_TRIG_STATEQuery},
    {.token = TOK_DELAY, .child = nullptr, .record = &kOUTP_TRIG_DELAY},
    {.token = TOK_DEL, .child = nullptr, .record = &kOUTP_TRIG_DELAY},
    {.token = TOK_DELAY_QUERY, .child = nullptr, .record = &kOUTP_TRIG_DELAYQuery},
    {},
};
constexpr CommandNode kOutput[] = {
    {.token = TOK_TRIGGER, .child = kOutputTrigger, .record = &kOUTP_TRIG_STATE},
    {.token = TOK_TRIGGER_QUERY, .child = nullptr, .record = &kOUTP_TRIG_STATEQuery},
    {.token = TOK_DELAY, .child = nullptr, .record = &kOUTP_TRIG_DELAY},
    {.token = TOK_DEL, .child = nullptr, .record = &kOUTP_TRIG_DELAY},
    {.token = TOK_DELAY_QUERY, .child = nullptr, .record = &kOUTP_TRIG_DELAYQuery},
    {},
};

// INITiate
constexpr CommandNode kInitiate[] = {
    {.token = TOK_IMMEDIATE, .child = nullptr, .record = &kINIT},
    {.token = TOK_CONTINUOUS, .child = nullptr, .record = &kINIT_CONTINUOUS},
    {.token = TOK_CONTINUOUS_QUERY, .child = nullptr, .record = &kINIT_CONTINUOUSQuery},
    {},
};

// ROUTe:CLOSe, ROUTe:OPEN
constexpr CommandNode kRouteClose[] = {
    {.token = TOK_STATE_QUERY, .child = nullptr, .record = &kROUTE_CLOSEQuery},
    {},
};
constexpr CommandNode kRouteOpen[] = {
    {.token = TOK_STATE_QUERY, .child = nullptr, .record = &kROUTE_OPENQuery},
    {.token = TOK_ALL, .child = nullptr, .record = &kROUTE_OPEN_ALL},
    {},
};

// ROUTe:SCAN
constexpr CommandNode kRouteScanRecall[] = {
    {.token = TOK_AUTO, .child = nullptr, .record = &kROUTE_SCAN_RECALL_AUTO},
    {.token = TOK_AUTO_QUERY, .child = nullptr, .record = &kROUTE_SCAN_RECALL_AUTOQuery},
    {},
};
constexpr CommandNode kRouteScan[] = {
    {.token = TOK_CLEAR, .child = nullptr, .record = &kROUTE_SCAN_CLEAR},
    {.token = TOK_DELETE, .child = nullptr, .record = &kROUTE_SCAN_CLEAR},
    {.token = TOK_STORE, .child = nullptr, .record = &kROUTE_SCAN_STORE},
    {.token = TOK_SAVE, .child = nullptr, .record = &kROUTE_SCAN_STORE},
    {.token = TOK_RECALL, .child = kRouteScanRecall, .record = &kROUTE_SCAN_RECALL},
    {},
};

// ROUTe:INCLude
constexpr CommandNode kRouteIncludeDelete[] = {
    {.token = TOK_ALL, .child = nullptr, .record = &kROUTE_INCLUDE_DELETE_ALL},
    {},
};
constexpr CommandNode kRouteIncludeRecall[] = {
    {.token = TOK_AUTO, .child = nullptr, .record = &kROUTE_INCLUDE_RECALL_AUTO},
    {.token = TOK_AUTO_QUERY, .child = nullptr, .record = &kROUTE_INCLUDE_RECALL_AUTOQuery},
    {},
};
constexpr CommandNode kRouteInclude[] = {
    {.token = TOK_DELETE, .child = kRouteIncludeDelete, .record = &kROUTE_INCLUDE_DELETE},
    {.token = TOK_DEL, .child = kRouteIncludeDelete, .record = &kROUTE_INCLUDE_DELETE},
    {.token = TOK_CLEAR, .child = kRouteIncludeDelete, .record = &kROUTE_INCLUDE_DELETE},
    {.token = TOK_STORE, .child = nullptr, .record = &kROUTE_INCLUDE_STORE},
    {.token = TOK_SAVE, .child = nullptr, .record = &kROUTE_INCLUDE_STORE},
    {.token = TOK_RECALL, .child = kRouteIncludeRecall, .record = &kROUTE_INCLUDE_RECALL},
    {},
};

// ROUTe:EXCLude
constexpr CommandNode kRouteExcludeDelete[] = {
    {.token = TOK_ALL, .child = nullptr, .record = &kROUTE_EXCLUDE_DELETE_ALL},
    {},
};
constexpr CommandNode kRouteExcludeRecall[] = {
    {.token = TOK_AUTO, .child = nullptr, .record = &kROUTE_EXCLUDE_RECALL_AUTO},
    {.token = TOK_AUTO_QUERY, .child = nullptr, .record = &kROUTE_EXCLUDE_RECALL_AUTOQuery},
    {},
};
constexpr CommandNode kRouteExclude[] = {
    {.token = TOK_DELETE, .child = kRouteExcludeDelete, .record = &kROUTE_EXCLUDE_DELETE},
    {.token = TOK_DEL, .child = kRouteExcludeDelete, .record = &kROUTE_EXCLUDE_DELETE},
    {.token = TOK_CLEAR, .child = kRouteExcludeDelete, .record = &kROUTE_EXCLUDE_DELETE},
    {.token = TOK_STORE, .child = nullptr, .record = &kROUTE_EXCLUDE_STORE},
    {.token = TOK_SAVE, .child = nullptr, .record = &kROUTE_EXCLUDE_STORE},
    {.token = TOK_RECALL, .child = kRouteExcludeRecall, .record = &kROUTE_EXCLUDE_RECALL},
    {},
};

// ROUTe:PATH
constexpr CommandNode kRoutePathDelete[] = {
    {.token = TOK_NAME, .child = nullptr, .record = &kROUTE_PATH_DELETE},
    {.token = TOK_ALL, .child = nullptr, .record = &kROUTE_PATH_DELETE_ALL},
    {},
};
constexpr CommandNode kRoutePathRecall[] = {
    {.token = TOK_AUTO, .child = nullptr, .record = &kROUTE_PATH_RECALL_AUTO},
    {.token = TOK_AUTO_QUERY, .child = nullptr, .record = &kROUTE_PATH_RECALL_AUTOQuery},
    {},
};
constexpr CommandNode kRoutePath[] = {
    {.token = TOK_CATALOG_QUERY, .child = nullptr, .record = &kROUTE_PATH_CATALOGQuery},
    {.token = TOK_DEFINE, .child = nullptr, .record = &kROUTE_PATH_DEFINE},
    {.token = TOK_DEFINE_QUERY, .child = nullptr, .record = &kROUTE_PATH_DEFINEQuery},
    {.token = TOK_DELETE, .child = kRoutePathDelete, .record = &kROUTE_PATH_DELETE},
    {.token = TOK_DEL, .child = kRoutePathDelete, .record = &kROUTE_PATH_DELETE},
    {.token = TOK_STORE, .child = nullptr, .record = &kROUTE_PATH_STORE},
    {.token = TOK_SAVE, .child = nullptr, .record = &kROUTE_PATH_STORE},
    {.token = TOK_RECALL, .child = kRoutePathRecall, .record = &kROUTE_PATH_RECALL},
    {},
};

// ROUTe:VERify
constexpr CommandNode kRouteVerifyRecall[] = {
    {.token = TOK_STAT, .child = nullptr, .record = &kROUTE_VERIFY_RECALL_STATE},
    {.token = TOK_STATE, .child = nullptr, .record = &kROUTE_VERIFY_RECALL_STATE},
    {.token = TOK_STATE_QUERY, .child = nullptr, .record = &kROUTE_VERIFY_RECALL_STATEQuery},
    {},
};
constexpr CommandNode kRouteVerify[] = {
    {.token = TOK_ALL_QUERY, .child = nullptr, .record = &kROUTE_VERIFY_ALLQuery},
    {.token = TOK_MASK, .child = nullptr, .record = &kROUTE_VERIFY_MASK},
    {.token = TOK_MASK_QUERY, .child = nullptr, .record = &kROUTE_VERIFY_MASKQuery},
    {.token = TOK_STORE, .child = nullptr, .record = &kROUTE_VERIFY_STORE},
    {.token = TOK_SAVE, .child = nullptr, .record = &kROUTE_VERIFY_STORE},
    {.token = TOK_RECALL, .child = kRouteVerifyRecall, .record = &kROUTE_VERIFY_RECALL},
    {.token = TOK_RECALL_QUERY, .child = nullptr, .record = &kROUTE_VERIFY_RECALL_STATEQuery},
    {},
};

// ROUTe:MODule
constexpr CommandNode kRouteModuleDelete[] = {
    {.token = TOK_NAME, .child = nullptr, .record = &kROUTE_MODULE_DELETE},
    {.token = TOK_ALL, .child = nullptr, .record = &kROUTE_MODULE_DELETE_ALL},
    {},
};
constexpr CommandNode kRouteModuleRecall[] = {
    {.token = TOK_STAT, .child = nullptr, .record = &kROUTE_MODULE_RECALL_STATE},
    {.token = TOK_STATE, .child = nullptr, .record = &kROUTE_MODULE_RECALL_STATE},
    {.token = TOK_STATE_QUERY, .child = nullptr, .record = &kROUTE_MODULE_RECALL_STATEQuery},
    {},
};
constexpr CommandNode kRouteModule[] = {
    {.token = TOK_CATALOG_QUERY, .child = nullptr, .record = &kROUTE_MODULE_CATALOGQuery},
    {.token = TOK_LIST_QUERY, .child = nullptr, .record = &kROUTE_MODULE_LISTQuery},
    {.token = TOK_DEFINE, .child = nullptr, .record = &kROUTE_MODULE_DEFINE},
    {.token = TOK_DEFINE_QUERY, .child = nullptr, .record = &kROUTE_MODULE_DEFINEQuery},
    {.token = TOK_DELETE, .child = kRouteModuleDelete, .record = &kROUTE_MODULE_DELETE},
    {.token = TOK_DEL, .child = kRouteModuleDelete, .record = &kROUTE_MODULE_DELETE},
    {.token = TOK_SAVE, .child = nullptr, .record = &kROUTE_MODULE_SAVE},
    {.token = TOK_RECALL, .child = kRouteModuleRecall, .record = &kROUTE_MODULE_RECALL},
    {.token = TOK_RECALL_QUERY, .child = nullptr, .record = &kROUTE_MODULE_RECALL_STATEQuery},
    {},
};

// ROUTe:MONitor
constexpr CommandNode kRouteMonitor[] = {
    {.token = TOK_STATE, .child = nullptr, .record = &kROUTE_MONITOR},
    {.token = TOK_STAT, .child = nullptr, .record = &kROUTE_MONITOR},
    {.token = TOK_STATE_QUERY, .child = nullptr, .record = &kROUTE_MONITORQuery},
    {},
};

// STATus (reached as STAT and as STATUS)
constexpr CommandNode kStatusOperation[] = {
    {.token = TOK_EVENT_QUERY, .child = nullptr, .record = &kSTATUS_OPERATION_EVENTQuery},
    {.token = TOK_CONDITION_QUERY, .child = nullptr, .record = &kSTATUS_OPERATION_CONDITIONQuery},
    {.token = TOK_ENABLE, .child = nullptr, .record = &kSTATUS_OPERATION_ENABLE},
    {.token = TOK_ENABLE_QUERY, .child = nullptr, .record = &kSTATUS_OPERATION_ENABLEQuery},
    {},
};
constexpr CommandNode kStatusQuestionable[] = {
    {.token = TOK_EVENT_QUERY, .child = nullptr, .record = &kSTATUS_QUESTIONABLE_EVENTQuery},
    {.token = TOK_CONDITION_QUERY,
     .child = nullptr,
     .record = &kSTATUS_QUESTIONABLE_CONDITIONQuery},
    {.token = TOK_ENABLE, .child = nullptr, .record = &kSTATUS_QUESTIONABLE_ENABLE},
    {.token = TOK_ENABLE_QUERY, .child = nullptr, .record = &kSTATUS_QUESTIONABLE_ENABLEQuery},
    {},
};
constexpr CommandNode kStatus[] = {
    {.token = TOK_PRESET, .child = nullptr, .record = &kSTATUS_PRESET},
    {.token = TOK_OPERATION, .child = kStatusOperation, .record = nullptr},
    {.token = TOK_OPERATION_QUERY, .child = nullptr, .record = &kSTATUS_OPERATION_EVENTQuery},
    {.token = TOK_QUESTIONABLE, .child = kStatusQuestionable, .record = nullptr},
    {.token = TOK_QUESTIONABLE_QUERY, .child = nullptr, .record = &kSTATUS_QUESTIONABLE_EVENTQuery},
    {},
};

// SYSTem:EVENt, SYSTem:MODule, SYSTem:LOCK
constexpr CommandNode kSystemEventClear[] = {
    {.token = TOK_ALL, .child = nullptr, .record = &kSYST_EVENT_CLEAR_ALL},
    {},
};
constexpr CommandNode kSystemEvent[] = {
    {.token = TOK_COUNT_QUERY, .child = nullptr, .record = &kSYST_EVENT_COUNTQuery},
    {.token = TOK_CLEAR, .child = kSystemEventClear, .record = &kSYST_EVENT_CLEAR},
    {},
};
constexpr CommandNode kSystemModuleChannel[] = {
    {.token = TOK_LIST_QUERY, .child = nullptr, .record = &kSYST_MODULE_CHANNEL_LISTQuery},
    {},
};
constexpr CommandNode kSystemModuleRelay[] = {
    {.token = TOK_LIST_QUERY, .child = nullptr, .record = &kSYST_MODULE_RELAY_LISTQuery},
    {},
};
constexpr CommandNode kSystemModule[] = {
    {.token = TOK_CHANNEL, .child = kSystemModuleChannel, .record = nullptr},
    {.token = TOK_RELAY, .child = kSystemModuleRelay, .record = nullptr},
    {},
};
constexpr CommandNode kSystemLock[] = {
    {.token = TOK_REQUEST_QUERY, .child = nullptr, .record = &kSYST_LOCK_REQUESTQuery},
    {.token = TOK_RELEASE, .child = nullptr, .record = &kSYST_LOCK_RELEASE},
    {.token = TOK_OWNER_QUERY, .child = nullptr, .record = &kSYST_LOCK_OWNERQuery},
    {},
};

// SYSTem:COMMunicate
constexpr CommandNode kCommGpib[] = {
    {.token = TOK_ADDRESS, .child = nullptr, .record = &kSYST_COMM_GPIB_ADDRESS},
    {.token = TOK_ADDRESS_QUERY, .child = nullptr, .record = &kSYST_COMM_GPIB_ADDRESSQuery},
    {},
};
constexpr CommandNode kCommLanManual[] = {
    {.token = TOK_IPADDRESS, .child = nullptr, .record = &kSYST_COMM_LAN_MANUAL_IPADDRESS},
    {.token = TOK_IPADDRESS_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_MANUAL_IPADDRESSQuery},
    {.token = TOK_DNS, .child = nullptr, .record = &kSYST_COMM_LAN_MANUAL_DNS},
    {.token = TOK_DNS_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_MANUAL_DNSQuery},
    {.token = TOK_SMASK, .child = nullptr, .record = &kSYST_COMM_LAN_MANUAL_SMASK},
    {.token = TOK_SMASK_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_MANUAL_SMASKQuery},
    {.token = TOK_GATEWAY, .child = nullptr, .record = &kSYST_COMM_LAN_MANUAL_GATEWAY},
    {.token = TOK_GATEWAY_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_MANUAL_GATEWAYQuery},
    {},
};
constexpr CommandNode kCommLan[] = {
    {.token = TOK_DESCRIPTION, .child = nullptr, .record = &kSYST_COMM_LAN_DESCRIPTION},
    {.token = TOK_DESCRIPTION_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_DESCRIPTIONQuery},
    {.token = TOK_DNS_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_DNSQuery},
    {.token = TOK_DOMAIN, .child = nullptr, .record = &kSYST_COMM_LAN_DOMAIN},
    {.token = TOK_DOMAIN_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_DOMAINQuery},
    {.token = TOK_GATEWAY_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_GATEWAYQuery},
    {.token = TOK_HOSTNAME, .child = nullptr, .record = &kSYST_COMM_LAN_HOSTNAME},
    {.token = TOK_HOSTNAME_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_HOSTNAMEQuery},
    {.token = TOK_IDENTIFY, .child = nullptr, .record = &kSYST_COMM_LAN_IDENTIFY},
    {.token = TOK_IDENTIFY_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_IDENTIFYQuery},
    {.token = TOK_IPADDRESS_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_IPADDRESSQuery},
    {.token = TOK_KEEPALIVE, .child = nullptr, .record = &kSYST_COMM_LAN_KEEPALIVE},
    {.token = TOK_KEEPALIVE_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_KEEPALIVEQuery},
    {.token = TOK_MAC_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_MACQuery},
    {.token = TOK_SERVICE, .child = nullptr, .record = &kSYST_COMM_LAN_SERVICE},
    {.token = TOK_SERVICE_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_SERVICEQuery},
    {.token = TOK_SMASK_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_SMASKQuery},
    {.token = TOK_MODE, .child = nullptr, .record = &kSYST_COMM_LAN_MODE},
    {.token = TOK_MODULE, .child = nullptr, .record = &kSYST_COMM_LAN_MODE},  // another spelling of MODE
    {.token = TOK_MODE_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_MODEQuery},
    {.token = TOK_PING, .child = nullptr, .record = &kSYST_COMM_LAN_PING},
    {.token = TOK_PING_QUERY, .child = nullptr, .record = &kSYST_COMM_LAN_PINGQuery},
    {.token = TOK_RESET, .child = nullptr, .record = &kSYST_COMM_LAN_RESET},
    {.token = TOK_MANUAL, .child = kCommLanManual, .record = nullptr},
    {},
};
constexpr CommandNode kComm[] = {
    {.token = TOK_ENABLE, .child = nullptr, .record = &kSYST_COMM_ENABLE},
    {.token = TOK_ENABLE_QUERY, .child = nullptr, .record = &kSYST_COMM_ENABLEQuery},
    {.token = TOK_GPIB, .child = kCommGpib, .record = nullptr},
    {.token = TOK_LAN, .child = kCommLan, .record = nullptr},
    {},
};

// SYSTem
constexpr CommandNode kSystem[] = {
    {.token = TOK_ERROR_QUERY, .child = nullptr, .record = &kSYST_ERRORQuery},
    {.token = TOK_EVENT, .child = kSystemEvent, .record = nullptr},
    {.token = TOK_EVENT_QUERY, .child = nullptr, .record = &kSYST_EVENTQuery},
    {.token = TOK_PRESET, .child = nullptr, .record = &kSYST_PRESET},
    {.token = TOK_RESET, .child = nullptr, .record = &kSYST_RESET},
    {.token = TOK_VERSION_QUERY, .child = nullptr, .record = &kSYST_VERSIONQuery},
    {.token = TOK_MODULE, .child = kSystemModule, .record = nullptr},
    {.token = TOK_KLOCK, .child = nullptr, .record = &kSYST_KLOCK},
    {.token = TOK_KLOCK_QUERY, .child = nullptr, .record = &kSYST_KLOCKQuery},
    {.token = TOK_NVUPDATE, .child = nullptr, .record = &kSYST_NVUPDATE},
    {.token = TOK_NVUPDATE_QUERY, .child = nullptr, .record = &kSYST_NVUPDATEQuery},
    {.token = TOK_LOCK, .child = kSystemLock, .record = nullptr},
    {.token = TOK_COMMUNICATE, .child = kComm, .record = nullptr},
    {},
};

// DIAGnostic. Each register family gets its own READ?/WRITe table: their handlers differ.
constexpr CommandNode kDiagMacAddress[] = {
    {.token = TOK_READ_QUERY, .child = nullptr, .record = &kDIAG_MAC_ADDRESS_READQuery},
    {.token = TOK_WRITE, .child = nullptr, .record = &kDIAG_MAC_ADDRESS_WRITE},
    {},
};
constexpr CommandNode kDiagMac[] = {
    {.token = TOK_ADDRESS, .child = kDiagMacAddress, .record = nullptr},
    {},
};
constexpr CommandNode kDiagSerialNumber[] = {
    {.token = TOK_READ_QUERY, .child = nullptr, .record = &kDIAG_SERIALNUMBER_READQuery},
    {.token = TOK_WRITE, .child = nullptr, .record = &kDIAG_SERIALNUMBER_WRITE},
    {},
};
constexpr CommandNode kDiagFpga[] = {
    {.token = TOK_READ_QUERY, .child = nullptr, .record = &kDIAG_FPGA_READQuery},
    {.token = TOK_WRITE, .child = nullptr, .record = &kDIAG_FPGA_WRITE},
    {},
};
constexpr CommandNode kDiagLocalBus[] = {
    {.token = TOK_READ_QUERY, .child = nullptr, .record = &kDIAG_LBUS_READQuery},
    {.token = TOK_WRITE, .child = nullptr, .record = &kDIAG_LBUS_WRITE},
    {},
};
constexpr CommandNode kDiagInterrupt[] = {
    {.token = TOK_READ_QUERY, .child = nullptr, .record = &kDIAG_INTERRUPT_READQuery},
    {},
};
constexpr CommandNode kDiagRelayCycles[] = {
    {.token = TOK_CLEAR, .child = nullptr, .record = &kDIAG_RELAY_CYCLES_CLEAR},
    {.token = TOK_DELETE, .child = nullptr, .record = &kDIAG_RELAY_CYCLES_CLEAR},
    {.token = TOK_DEL, .child = nullptr, .record = &kDIAG_RELAY_CYCLES_CLEAR},
    {},
};
constexpr CommandNode kDiagRelay[] = {
    {.token = TOK_CYCLES, .child = kDiagRelayCycles, .record = nullptr},
    {.token = TOK_CYCLES_QUERY, .child = nullptr, .record = &kDIAG_RELAY_CYCLESQuery},
    {},
};
constexpr CommandNode kDiag[] = {
    {.token = TOK_MAC, .child = kDiagMac, .record = nullptr},
    {.token = TOK_SERIALNUMBER, .child = kDiagSerialNumber, .record = nullptr},
    {.token = TOK_FPGA, .child = kDiagFpga, .record = nullptr},
    {.token = TOK_LOCALBUS, .child = kDiagLocalBus, .record = nullptr},
    {.token = TOK_INTERRUPT, .child = kDiagInterrupt, .record = nullptr},
    {.token = TOK_FANOVERRIDE, .child = nullptr, .record = &kDIAG_FANOVERRIDE},
    {.token = TOK_FANOVERRIDE_QUERY, .child = nullptr, .record = &kDIAG_FANOVERRIDEQuery},
    {.token = TOK_TEMPERATURE_QUERY, .child = nullptr, .record = &kDIAG_TEMPERATUREQuery},
    {.token = TOK_DATA_QUERY, .child = nullptr, .record = &kDIAG_DATAQuery},
    {.token = TOK_RELAY, .child = kDiagRelay, .record = nullptr},
    {},
};

// DIGital
constexpr CommandNode kDigitalOutput[] = {
    {.token = TOK_STATE, .child = nullptr, .record = &kDIG_OUTPUT_STATE},
    {.token = TOK_STATE_QUERY, .child = nullptr, .record = &kDIG_OUTPUT_STATEQuery},
    {.token = TOK_DATA, .child = nullptr, .record = &kDIG_OUTPUT},
    {},
};
constexpr CommandNode kDigitalSyncClock[] = {
    {.token = TOK_POLARITY, .child = nullptr, .record = &kDIG_SYNC_CLOCK},
    {.token = TOK_POLARITY_QUERY, .child = nullptr, .record = &kDIG_SYNC_CLOCKQuery},
    {},
};
constexpr CommandNode kDigitalSyncBusy[] = {
    {.token = TOK_POLARITY, .child = nullptr, .record = &kDIG_SYNC_BUSY},
    {.token = TOK_POLARITY_QUERY, .child = nullptr, .record = &kDIG_SYNC_BUSYQuery},
    {},
};
constexpr CommandNode kDigitalSync[] = {
    {.token = TOK_DATA, .child = nullptr, .record = &kDIG_SYNC_DATA},
    {.token = TOK_DATA_QUERY, .child = nullptr, .record = &kDIG_SYNC_DATAQuery},
    {.token = TOK_INDEX, .child = nullptr, .record = &kDIG_SYNC_INDEX},
    {.token = TOK_INDEX_QUERY, .child = nullptr, .record = &kDIG_SYNC_INDEXQuery},
    {.token = TOK_POINTS, .child = nullptr, .record = &kDIG_SYNC_POINTS},
    {.token = TOK_POINTS_QUERY, .child = nullptr, .record = &kDIG_SYNC_POINTSQuery},
    {.token = TOK_CLOCK, .child = kDigitalSyncClock, .record = &kDIG_SYNC_CLOCK},
    {.token = TOK_CLOCK_QUERY, .child = nullptr, .record = &kDIG_SYNC_CLOCKQuery},
    {.token = TOK_BUSY, .child = kDigitalSyncBusy, .record = &kDIG_SYNC_BUSY},
    {.token = TOK_BUSY_QUERY, .child = nullptr, .record = &kDIG_SYNC_BUSYQuery},
    {.token = TOK_STATE, .child = nullptr, .record = &kDIG_SYNC_STATE},
    {.token = TOK_STATE_QUERY, .child = nullptr, .record = &kDIG_SYNC_STATEQuery},
    {.token = TOK_CLEAR, .child = nullptr, .record = &kDIG_SYNC_CLEAR},
    {},
};
constexpr CommandNode kDigital[] = {
    {.token = TOK_STATE, .child = nullptr, .record = nullptr},
    {.token = TOK_STATE_QUERY, .child = nullptr, .record = nullptr},
    {.token = TOK_CONFIGURE, .child = nullptr, .record = &kDIG_CONFIGURE},
    {.token = TOK_CONFIGURE_QUERY, .child = nullptr, .record = &kDIG_CONFIGUREQuery},
    {.token = TOK_INPUT_QUERY, .child = nullptr, .record = &kDIG_INPUTQuery},
    {.token = TOK_OUTPUT, .child = kDigitalOutput, .record = &kDIG_OUTPUT},
    {.token = TOK_SYNCHRONOUS, .child = kDigitalSync, .record = nullptr},
    {},
};

// TRACe
constexpr CommandNode kTrace[] = {
    {.token = TOK_SERIALPORT, .child = nullptr, .record = &kTRACE_SERIALPORT},
    {.token = TOK_SERIALNUMBER, .child = nullptr, .record = &kTRACE_SERIALNUMBER},
    {},
};

// Where the ROUTe entries begin inside the root table, and its size with the end
// mark. The root points into itself, which needs its bound known while it is built.
constexpr size_t kRouteFirst = 13;
constexpr size_t kRootSize = 32;

}  // namespace

// The root. ROUTe is optional: its table is the tail of this one, from kRouteFirst
// on, so every ROUTe entry is also present at the root and ROUTe:ROUTe is not.
constexpr CommandNode kRootNodes[kRootSize] = {
    {.token = TOK_ABORT, .child = nullptr, .record = &kABORT},
    {.token = TOK_TRIGGER, .child = kTrigger, .record = &kTRIG},
    {.token = TOK_OUTPUT, .child = kOutput, .record = nullptr},
    {.token = TOK_INITIATE, .child = kInitiate, .record = &kINIT},
    {.token = TOK_ROUTE, .child = kRootNodes + kRouteFirst, .record = nullptr},
    {.token = TOK_STAT, .child = kStatus, .record = nullptr},
    {.token = TOK_STATUS, .child = kStatus, .record = nullptr},
    {.token = TOK_SYSTEM, .child = kSystem, .record = nullptr},
    {.token = TOK_DIAGNOSTIC, .child = kDiag, .record = nullptr},
    {.token = TOK_DIGITAL, .child = kDigital, .record = nullptr},
    {.token = TOK_ATTENUATE, .child = nullptr, .record = &kATTENUATE},
    {.token = TOK_ATTENUATE_QUERY, .child = nullptr, .record = &kATTENUATEQuery},
    {.token = TOK_TRACE, .child = kTrace, .record = nullptr},
    // ROUTe entries (kRouteFirst)
    {.token = TOK_CLOSE, .child = kRouteClose, .record = &kROUTE_CLOSE},
    {.token = TOK_CLOSE_QUERY, .child = nullptr, .record = &kROUTE_CLOSEQuery},
    {.token = TOK_OPEN, .child = kRouteOpen, .record = &kROUTE_OPEN},
    {.token = TOK_OPEN_QUERY, .child = nullptr, .record = &kROUTE_OPENQuery},
    {.token = TOK_SCAN, .child = kRouteScan, .record = &kROUTE_SCAN},
    {.token = TOK_SCAN_QUERY, .child = nullptr, .record = &kROUTE_SCANQuery},
    {.token = TOK_INCLUDE, .child = kRouteInclude, .record = &kROUTE_INCLUDE},
    {.token = TOK_EXCLUDE, .child = kRouteExclude, .record = &kROUTE_EXCLUDE},
    {.token = TOK_INCLUDE_QUERY, .child = nullptr, .record = &kROUTE_INCLUDEQuery},
    {.token = TOK_EXCLUDE_QUERY, .child = nullptr, .record = &kROUTE_EXCLUDEQuery},
    {.token = TOK_PATH, .child = kRoutePath, .record = nullptr},
    {.token = TOK_VERIFY, .child = kRouteVerify, .record = nullptr},
    {.token = TOK_VERIFY_QUERY, .child = nullptr, .record = &kROUTE_VERIFYQuery},
    {.token = TOK_CONFIGURE, .child = nullptr, .record = &kROUTE_CONFIGURE},
    {.token = TOK_CONFIGURE_QUERY, .child = nullptr, .record = &kROUTE_CONFIGUREQuery},
    {.token = TOK_MODULE, .child = kRouteModule, .record = nullptr},
    {.token = TOK_MONITOR, .child = kRouteMonitor, .record = &kROUTE_MONITOR},
    {.token = TOK_MONITOR_QUERY, .child = nullptr, .record = &kROUTE_MONITORQuery},
    {},
};
static_assert(kRootNodes[kRouteFirst].token == TOK_CLOSE &&
                  kRootNodes[kRouteFirst - 1].token == TOK_TRACE,
              "kRouteFirst must point at the first ROUTe entry");
static_assert(kRootNodes[kRootSize - 1].token == 0 && kRootNodes[kRootSize - 2].token != 0,
              "kRootSize must count every root entry and the end mark");

constexpr CommandTree kCommandTree = {
    .keywords = kKeywordList,
    .keyword_count = kKeywordCount,
    .root = kRootNodes,
    .common = kCommonNodes,
};

void ConnectCommandTable() {
  ConnectCommandTree(&kCommandTree);
  SetChannelListRelease(ReleaseChannelList);
  ConnectPathTable();
  ConnectModuleNames();
}

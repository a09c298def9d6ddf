// The controller's constant SCPI tables: the sorted keyword list that turns a spelling
// into a token and the two roots of the command tree (plain headers and '*' common
// commands), with the records that wire every subsystem's handlers in. Everything here
// is initialised constant data; nothing is built at run time. The engine walks the
// tree once the wiring unit has connected it (scpi/command_tree.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "scpi/command_tree.h"

// Keyword tokens. Every spelling of one keyword carries the same token; a query form
// is a keyword of its own. Some tokens are matched but stand in no node table yet.
enum KeywordToken : int32_t {
  TOK_STAR_CLS = 501,  // *CLS
  TOK_STAR_ESE = 502,  // *ESE
  TOK_STAR_ESE_QUERY = 503,  // *ESE?
  TOK_STAR_ESR_QUERY = 504,  // *ESR?
  TOK_STAR_IDN_QUERY = 505,  // *IDN?
  TOK_STAR_OPC = 506,  // *OPC
  TOK_STAR_OPC_QUERY = 507,  // *OPC?
  TOK_STAR_OPT_QUERY = 508,  // *OPT?
  TOK_STAR_RCL = 509,  // *RCL
  TOK_STAR_RST = 510,  // *RST
  TOK_STAR_SAV = 511,  // *SAV
  TOK_STAR_SRE = 512,  // *SRE
  TOK_STAR_SRE_QUERY = 513,  // *SRE?
  TOK_STAR_STB_QUERY = 514,  // *STB?
  TOK_STAR_TRG = 515,  // *TRG
  TOK_STAR_TST_QUERY = 516,  // *TST?
  TOK_STAR_WAI = 517,  // *WAI
  TOK_ABORT = 518,  // ABOR ABORT
  TOK_TRIGGER = 519,  // TRIG TRIGGER
  TOK_TRIGGER_QUERY = 520,  // TRIG? TRIGGER?
  TOK_SOURCE = 521,  // SOUR SOURCE
  TOK_SOURCE_QUERY = 522,  // SOUR? SOURCE?
  TOK_COUNT = 523,  // COUN COUNT
  TOK_COUNT_QUERY = 524,  // COUN? COUNT?
  TOK_IMMEDIATE = 525,  // IMM IMMEDIATE
  TOK_SEQUENCE = 526,  // SEQ SEQUENCE
  TOK_INITIATE = 527,  // INIT INITIATE
  TOK_CONTINUOUS = 528,  // CONT CONTINUOUS
  TOK_CONTINUOUS_QUERY = 529,  // CONT? CONTINUOUS?
  TOK_ROUTE = 530,  // ROUT ROUTE
  TOK_OUTPUT = 531,  // OUTP OUTPUT
  TOK_CLOSE = 532,  // CLOS CLOSE
  TOK_CLOSE_QUERY = 533,  // CLOS? CLOSE?
  TOK_STAT = 534,  // STAT
  TOK_STATUS = 535,  // STATUS
  TOK_STATE = 536,  // STATE
  TOK_STATE_QUERY = 537,  // STAT? STATE?
  TOK_OPEN = 538,  // OPEN
  TOK_OPEN_QUERY = 539,  // OPEN?
  TOK_ALL = 540,  // ALL
  TOK_SCAN = 541,  // SCAN
  TOK_SCAN_QUERY = 542,  // SCAN?
  TOK_CLEAR = 543,  // CLE CLEAR
  TOK_STORE = 544,  // STOR STORE
  TOK_SAVE = 545,  // SAV SAVE
  TOK_RECALL = 546,  // REC RECALL
  TOK_DELETE = 547,  // DELETE
  TOK_DEL = 548,  // DEL
  TOK_RECALL_QUERY = 549,  // REC? RECALL?
  TOK_AUTO = 550,  // AUTO
  TOK_AUTO_QUERY = 551,  // AUTO?
  TOK_INCLUDE = 552,  // INCL INCLUDE
  TOK_INCLUDE_QUERY = 553,  // INCL? INCLUDE?
  TOK_EXCLUDE = 554,  // EXCL EXCLUDE
  TOK_EXCLUDE_QUERY = 555,  // EXCL? EXCLUDE?
  TOK_PATH = 556,  // PATH
  TOK_CATALOG_QUERY = 557,  // CAT? CATALOG?
  TOK_DEFINE = 558,  // DEF DEFINE
  TOK_DEFINE_QUERY = 559,  // DEF? DEFINE?
  TOK_NAME = 560,  // NAME
  TOK_VERIFY = 561,  // VER VERIFY
  TOK_VERIFY_QUERY = 562,  // VER? VERIFY?
  TOK_MASK = 563,  // MASK
  TOK_MASK_QUERY = 564,  // MASK?
  TOK_CONFIGURE = 565,  // CONF CONFIGURE
  TOK_CONFIGURE_QUERY = 566,  // CONF? CONFIGURE?
  TOK_MODULE = 567,  // MOD MODULE
  TOK_LIST_QUERY = 568,  // LIST?
  TOK_MONITOR = 569,  // MON MONITOR
  TOK_DELAY = 570,  // DELAY
  TOK_DELAY_QUERY = 571,  // DEL? DELAY?
  TOK_MONITOR_QUERY = 572,  // MON? MONITOR?
  TOK_PRESET = 573,  // PRES PRESET
  TOK_OPERATION = 574,  // OPER OPERATION
  TOK_OPERATION_QUERY = 575,  // OPER? OPERATION?
  TOK_QUESTIONABLE = 576,  // QUES QUESTIONABLE
  TOK_QUESTIONABLE_QUERY = 577,  // QUES? QUESTIONABLE?
  TOK_EVENT = 578,  // EVEN EVENT
  TOK_EVENT_QUERY = 579,  // EVEN? EVENT?
  TOK_CONDITION_QUERY = 580,  // COND? CONDITION?
  TOK_ENABLE = 581,  // ENAB ENABLE
  TOK_ENABLE_QUERY = 582,  // ENAB? ENABLE?
  TOK_SYSTEM = 583,  // SYST SYSTEM
  TOK_ERROR_QUERY = 584,  // ERR? ERROR?
  TOK_RESET = 585,  // RES RESET
  TOK_VERSION_QUERY = 586,  // VERS? VERSION?
  TOK_CHANNEL = 587,  // CHAN CHANNEL
  TOK_RELAY = 588,  // REL RELAY
  TOK_KLOCK = 589,  // KLOC KLOCK
  TOK_KLOCK_QUERY = 590,  // KLOC? KLOCK?
  TOK_DIAGNOSTIC = 591,  // DIAG DIAGNOSTIC
  TOK_MAC = 592,  // MAC
  TOK_ADDRESS = 593,  // ADDR ADDRESS
  TOK_ADDRESS_QUERY = 594,  // ADDR? ADDRESS?
  TOK_READ_QUERY = 595,  // READ?
  TOK_WRITE = 596,  // WRIT WRITE
  TOK_SERIALNUMBER = 597,  // SER SERIALNUMBER
  TOK_FPGA = 598,  // FPGA
  TOK_LOCALBUS = 599,  // LBUS LOCALBUS
  TOK_INTERRUPT = 609,  // INT INTERRUPT IRQ
  TOK_FANOVERRIDE = 610,  // FAN FANOVERRIDE
  TOK_DATA = 611,  // DATA
  TOK_DATA_QUERY = 612,  // DATA?
  TOK_CYCLES = 613,  // CYCL CYCLES
  TOK_CYCLES_QUERY = 614,  // CYCL? CYCLES?
  TOK_LOCK = 615,  // LOCK
  TOK_REQUEST_QUERY = 616,  // REQ? REQUEST?
  TOK_RELEASE = 617,  // RELEASE
  TOK_OWNER_QUERY = 645,  // OWNER?
  TOK_COMMUNICATE = 646,  // COMM COMMUNICATE
  TOK_GPIB = 647,  // GPIB
  TOK_LAN = 648,  // LAN
  TOK_DNS = 649,  // DNS
  TOK_DNS_QUERY = 650,  // DNS?
  TOK_DOMAIN = 651,  // DOM DOMAIN
  TOK_DOMAIN_QUERY = 652,  // DOM? DOMAIN?
  TOK_GATEWAY = 653,  // GATE GATEWAY
  TOK_GATEWAY_QUERY = 654,  // GATE? GATEWAY?
  TOK_HOSTNAME = 655,  // HOST HOSTNAME
  TOK_HOSTNAME_QUERY = 656,  // HOST? HOSTNAME?
  TOK_IPADDRESS = 657,  // IPAD IPADDRESS
  TOK_IPADDRESS_QUERY = 658,  // IPAD? IPADDRESS?
  TOK_KEEPALIVE = 659,  // KEEP KEEPALIVE
  TOK_KEEPALIVE_QUERY = 660,  // KEEP? KEEPALIVE?
  TOK_MAC_QUERY = 661,  // MAC?
  TOK_SMASK = 662,  // SMAS SMASK
  TOK_SMASK_QUERY = 663,  // SMAS? SMASK?
  TOK_MODE = 664,  // MODE
  TOK_MODE_QUERY = 665,  // MODE?
  TOK_PING = 666,  // PING
  TOK_PING_QUERY = 667,  // PING?
  TOK_MANUAL = 668,  // MAN MANUAL
  TOK_DIGITAL = 669,  // DIG DIGITAL
  TOK_INPUT_QUERY = 670,  // INP? INPUT?
  TOK_SYNCHRONOUS = 671,  // SYNC SYNCHRONOUS
  TOK_INDEX = 672,  // IND INDEX
  TOK_INDEX_QUERY = 673,  // IND? INDEX?
  TOK_POINTS = 674,  // POIN POINTS
  TOK_POINTS_QUERY = 675,  // POIN? POINTS?
  TOK_CLOCK = 676,  // CLOC CLOCK
  TOK_CLOCK_QUERY = 677,  // CLOC? CLOCK?
  TOK_POLARITY = 678,  // POL POLARITY
  TOK_POLARITY_QUERY = 679,  // POL? POLARITY?
  TOK_BUSY = 680,  // BUSY
  TOK_BUSY_QUERY = 681,  // BUSY?
  TOK_ATTENUATE = 682,  // ATT ATTENUATE
  TOK_ATTENUATE_QUERY = 683,  // ATT? ATTENUATE?
  TOK_TRACE = 684,  // TRAC TRACE
  TOK_SERIALPORT = 685,  // SERIALPORT
  // Matched, but no node table accepts them: a header using one is unknown.
  TOK_BBM = 686,  // BBM
  TOK_MBB = 687,  // MBB
  TOK_BUS = 688,  // BUS
  TOK_EXT = 689,  // EXT
  TOK_HOLD = 690,  // HOLD
  TOK_ON = 691,  // ON
  TOK_OFF = 692,  // OFF
  TOK_NORMAL = 693,  // NORM NORMAL
  TOK_INVERTED = 694,  // INV INVERTED
  TOK_MINIMUM = 695,  // MIN MINIMUM
  TOK_MAXIMUM = 696,  // MAX MAXIMUM
  TOK_DEFAULT = 697,  // DEFAULT
  TOK_DATE = 698,  // DATE
  TOK_DATE_QUERY = 699,  // DATE?
  TOK_TIME = 700,  // TIME
  TOK_TIME_QUERY = 701,  // TIME?
  TOK_LOAD = 702,  // LOAD
  TOK_MMEMORY = 703,  // MMEM MMEMORY
  TOK_INSTALL = 704,  // INST INSTALL
  TOK_IDBYTE = 705,  // IDBYTE
  TOK_PMAP = 706,  // PMAP
  TOK_PMAP_QUERY = 707,  // PMAP?
  TOK_TMAP_QUERY = 708,  // TMAP?
  TOK_HMAP_QUERY = 709,  // HMAP?
  TOK_BMAP_QUERY = 710,  // BMAP?
  TOK_TESTMODE = 711,  // TESTMODE
  TOK_STEP_QUERY = 712,  // STEP?
  TOK_ASYNCHRONOUS = 713,  // ASYN ASYNCHRONOUS
  TOK_NVUPDATE = 763,  // NVUPD NVUPDATE UPD UPDATE
  TOK_NVUPDATE_QUERY = 764,  // NVUPD? NVUPDATE? UPD? UPDATE?
  TOK_ALL_QUERY = 777,  // ALL?
  TOK_DESCRIPTION = 778,  // DESC DESCRIPTION
  TOK_DESCRIPTION_QUERY = 779,  // DESC? DESCRIPTION?
  TOK_IDENTIFY = 780,  // IDEN IDENTIFY
  TOK_IDENTIFY_QUERY = 781,  // IDEN? IDENTIFY?
  TOK_SERVICE = 782,  // SERV SERVICE
  TOK_SERVICE_QUERY = 783,  // SERV? SERVICE?
  TOK_FANOVERRIDE_QUERY = 784,  // FAN? FANOVERRIDE?
  TOK_TEMPERATURE_QUERY = 785,  // TEMP? TEMPERATURE?
};

// Every accepted keyword spelling (288 spellings of 180 tokens), sorted in strcmp
// order: the lookup depends on it.
extern const KeywordEntry kKeywordList[];
inline constexpr size_t kKeywordCount = 304;

// Root table for headers that do not begin with '*', and the common-command table.
extern const CommandNode kRootNodes[];
extern const CommandNode kCommonNodes[];

// The whole tree, as the wiring unit connects it to the engine.
extern const CommandTree kCommandTree;

// Connects the tree to the engine together with what its handlers need around it: the
// release of the channel lists they parse, and the path table and module names that
// channel lists look names up in. Everything that runs program messages through this
// tree connects it this way.
void ConnectCommandTable();

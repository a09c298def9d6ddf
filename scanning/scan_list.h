// The scan list: the ordered channels and named paths a scan steps through, one
// element per trigger. It is set by ROUTe:SCAN (paths kept whole, duplicates kept),
// stored in "/mnt/nonv/scanlists/scanlist.scn", one "CHANNEL: %d(%d),NONE" or
// "PATH: %s,NONE" line per element ("NONE" alone for an empty list), and recalled from
// it at power-on when "/mnt/nonv/config/scan_list/scan_autorecall" holds "1".
//
// Everything here runs under the engine's execution lock.
#pragma once

#include <cstdint>
#include <memory>

#include "switching/channel_list.h"

// The scan list, or null when there is none.
const ChannelList* ScanList();
// Installs a new list (null or empty: none) and drops the compiled steps; an initiated
// scan goes on with it (see ScanListReplaced).
void ReplaceScanList(std::unique_ptr<ChannelList> list, bool restart);

// 0, -292 when a path of the list is no longer defined (nothing written), -20062.
int32_t StoreScanList();
// 0 or -20060 (the old list kept, the reason in the event log). A missing file clears
// the list.
int32_t RecallScanList();
// One byte, '1' or '0'. The setter's failure is -20062; the reading is 0 for a
// missing or unreadable file.
int32_t SetScanListAutoRecall(bool on);
bool ScanListAutoRecall();
// At power-on: recall when the autorecall file says so.
int32_t PowerOnScanListRecall();

void ResetScanListForTest();

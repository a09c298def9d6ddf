// Card web controls: the web server shows a control panel for the chassis and for each
// installed card. The panels are applet archives kept under /lib/webctrls; for every
// installed card the controller builds a small folder under /var/www/controls (slot<N>,
// or system for the chassis) that tells the web pages which archives, which entry class
// and which window size belong to the card in that slot. Installation builds it once
// per card.
#pragma once

#include <cstdint>

// One row of the web control table.
struct WebControlEntry {
  uint32_t type_id;         // 0 ends the table
  const char* model;        // model text
  const char* archives;     // names separated by commas and blanks; null: no panel
  const char* entry_class;  // null: no panel
  int width;                // pixels
  int height;               // pixels; 0 for a panel sized from the card's channel table
};

// The row of `type_id`, or null when the table has none.
const WebControlEntry* FindWebControlEntry(uint32_t type_id);

// Builds the web control folder of the card in `slot` (0..12) from the row of
// `type_id`. 0; -22202 for a slot outside 0..12; -1 when the table has no row for the
// id (after the error line); the card's GetIdentity error when the model text needs its
// description and it fails. A folder, file or link that cannot be made does not change
// the result.
int32_t InstallCardWebControl(uint32_t type_id, int slot);

// Connects the controller's messaging to the SCPI engine: command channels execute
// program messages with ExecuteProgramMessage, and the engine's relay change broadcast
// goes out as E3 on the event channel. The controller calls it once at start-up; the
// servers, which link the same core library, never do and so never carry the engine.
#pragma once

void ConnectEngine();

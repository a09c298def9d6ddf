// buslink: the GPIB server program, started by the controller.
#include "gpibserver/gpib_svr.h"

int main() { return gpib::GPIBSvrMain(); }

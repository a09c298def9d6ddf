// lanlink: the LAN server program, started by the controller.
#include "lanserver/lan_server.h"

int main() { return lan::SockSvrMain(); }

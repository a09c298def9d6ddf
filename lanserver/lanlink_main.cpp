// lanlink: the LAN server program, started by the controller.
#include <malloc.h>

#include "lanserver/lan_server.h"

int main() {
  // A client that floods or never reads makes the server hold megabytes for a while:
  // such blocks come from their own mappings and go back to the system when freed, and
  // the threads share one heap, so that a server running for months stays at the size
  // it started with however many such clients came and went.
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_TRIM_THRESHOLD, 128 * 1024);
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  return lan::SockSvrMain();
}

// weblink: the instrument's web server. The controller starts it as the board's web
// server is started ("./appweb -b -f appweb.conf" in its folder, where the board image
// installs this program under that name) and stops it with "killall -9 appweb"; "-b"
// puts it in the background once it serves, "-f" names a configuration it has no use
// for. It serves port 80 on the board; on a virtual chassis the first free port from
// the chassis' base + 8, which it writes to /tmp/web_port ("http=%u"). Once it serves it
// writes its pid to /tmp/web_pid, by which the controller knows the server it watches.
#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/stored_file.h"
#include "platform/paths.h"
#include "webserver/web_server.h"

namespace {

constexpr const char* kPortFile = "/tmp/web_port";
constexpr const char* kPidFile = "/tmp/web_pid";
constexpr int kPortsTried = 20;

// True when a TCP listener could bind `port` on the bind address now.
bool PortFree(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  inet_pton(AF_INET, platform::BindAddress().c_str(), &address.sin_addr);
  const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return free;
}

}  // namespace

int main(int argc, char** argv) {
  bool background = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-b") == 0) {
      background = true;
    } else if (std::strcmp(argv[i], "-f") == 0 && i + 1 < argc) {
      ++i;
    } else {
      std::fprintf(stderr, "usage: %s [-b] [-f CONFIG]\n", argv[0]);
      return 2;
    }
  }
  uint16_t port = platform::WebPort();
  if (!platform::Root().empty()) {
    int tried = 0;
    while (tried < kPortsTried && port < 65535 && !PortFree(port)) ++port, ++tried;
  }
  const std::string listen = platform::BindAddress() == "0.0.0.0"
                                 ? std::to_string(port)
                                 : platform::BindAddress() + ":" + std::to_string(port);

  // In the background the starting command returns once the server serves (or has
  // failed): the child reports through a pipe before any thread exists in the parent.
  int ready[2] = {-1, -1};
  if (background) {
    if (pipe(ready) != 0) return 1;
    const pid_t child = fork();
    if (child < 0) return 1;
    if (child > 0) {
      close(ready[1]);
      char status = 1;
      const bool reported = read(ready[0], &status, 1) == 1;
      return reported && status == 0 ? 0 : 1;
    }
    close(ready[0]);
  }
  // Many serving threads, little memory each: one heap for all of them, and freed
  // memory (a large WebSocket frame, a burst of connections) goes back to the system.
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_TRIM_THRESHOLD, 128 * 1024);
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  web::WebServer server({
      .listen = listen,
      .assets = platform::ResolvePath("/lib/webctrls"),
      .controls = platform::ResolvePath("/var/www/controls"),
      .users = platform::ResolvePath("/mnt/nonv/appweb/users.db"),
      .command_port = platform::CommandPort(),
      .event_port = platform::EventPort(),
      .raw_port = platform::RawPort(),
  });
  const char status = server.Start() == 0 ? 0 : 1;
  if (status == 0 && !platform::Root().empty()) {
    ReplaceStoredFile(kPortFile, "http=" + std::to_string(port) + "\n");
  }
  if (status == 0) ReplaceStoredFile(kPidFile, std::to_string(getpid()) + "\n");
  if (background) {
    (void)!write(ready[1], &status, 1);
    close(ready[1]);
  }
  if (status != 0) {
    std::fprintf(stderr, "weblink: cannot serve port %u\n", port);
    return 1;
  }
  int signal_number = 0;
  sigwait(&stop, &signal_number);
  if (!platform::Root().empty()) unlink(platform::ResolvePath(kPortFile).c_str());
  unlink(platform::ResolvePath(kPidFile).c_str());
  return 0;
}

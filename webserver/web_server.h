// The instrument's web server: the welcome page, the LXI identification document, the
// LAN configuration page behind Digest authentication, identify, the front panels'
// data and SCPI routes, the SCPI console, the WebSocket that pushes the chassis'
// event notices, and the page assets, on civetweb.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "webserver/scpi_client.h"

struct mg_context;
struct mg_connection;

namespace web {

struct WebServerOptions {
  std::string listen;        // civetweb's listening port text: "80" or "127.0.0.1:4452"
  std::string assets;        // folder of the pages, styles and scripts
  std::string controls;      // folder of the slot directories
  std::string users;         // the Digest user list
  uint16_t command_port;
  uint16_t event_port;
  uint16_t raw_port;
};

class WebServer {
 public:
  explicit WebServer(WebServerOptions options);
  ~WebServer();  // stops serving
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Starts serving. 0, or -1 when the port cannot be served (civetweb says why on
  // standard error).
  int Start();

  // Request entry points (civetweb calls them; public for its C callbacks).
  int HandleRequest(mg_connection* connection);
  void WebSocketReady(mg_connection* connection);
  void WebSocketClosed(const mg_connection* connection);

 private:
  int Welcome(mg_connection* connection);
  int LanPage(mg_connection* connection, bool post);
  int Identify(mg_connection* connection);
  int Identification(mg_connection* connection);
  int Cage(mg_connection* connection);
  int Scpi(mg_connection* connection, ScpiConnection& scpi);
  int Asset(mg_connection* connection, const std::string& name);
  void Broadcast(uint32_t word);

  WebServerOptions options_;
  ScpiConnection pages_;    // the pages' own queries and the LAN changes
  ScpiConnection panels_;   // the front panels
  ScpiConnection console_;  // the SCPI console
  std::unique_ptr<EventListener> events_;
  mg_context* context_ = nullptr;
  std::mutex sockets_mutex_;
  std::set<mg_connection*> sockets_;  // WebSockets that take notices
};

}  // namespace web

// The web server's routes on civetweb (see web_server.h).
#include "webserver/web_server.h"

#include <civetweb.h>
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "webserver/event_notice.h"
#include "webserver/instrument_info.h"
#include "webserver/web_text.h"

namespace web {
namespace {

// Threads that serve connections: enough for many browsers with their WebSockets and
// a burst of requests; a connection past them waits in the queue.
constexpr const char* kServingThreads = "64";
constexpr const char* kQueuedConnections = "256";
// A connection that sends nothing for this long is closed, so idle or stalled
// clients cannot hold the serving threads.
constexpr const char* kRequestTimeoutMs = "1000";
constexpr const char* kLongestHeader = "8192";

struct Asset {
  const char* extension;
  const char* type;
};
constexpr Asset kAssetTypes[] = {
    {".html", "text/html; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"}, {".svg", "image/svg+xml"},
    {".png", "image/png"}, {".ico", "image/x-icon"},
};

const char* AssetType(const std::string& name) {
  for (const Asset& asset : kAssetTypes) {
    const std::size_t length = std::strlen(asset.extension);
    if (name.size() > length && name.compare(name.size() - length, length, asset.extension) == 0) {
      return asset.type;
    }
  }
  return nullptr;
}

// A file's whole content; false when it cannot be read.
bool ReadWhole(const std::string& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::stringstream content;
  content << file.rdbuf();
  *text = content.str();
  return !file.bad();
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

void Respond(mg_connection* connection, int status, const char* type, const std::string& body,
             const std::string& headers = {}) {
  const mg_request_info* request = mg_get_request_info(connection);
  const bool head = request != nullptr && std::strcmp(request->request_method, "HEAD") == 0;
  // Headers and body in one write: a body sent apart would wait for the browser to
  // acknowledge the headers.
  char start[512];
  std::snprintf(start, sizeof start,
                "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
                "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n",
                status, mg_get_response_code_text(connection, status), type, body.size());
  std::string response = start + headers + "\r\n";
  if (!head) response += body;
  mg_write(connection, response.data(), response.size());
}

int Error(mg_connection* connection, int status, const std::string& text, const std::string& headers = {}) {
  Respond(connection, status, "text/plain; charset=utf-8", text + "\n", headers);
  return status;
}

int JsonError(mg_connection* connection, int status, const std::string& text) {
  Respond(connection, status, "application/json", "{\"error\":" + JsonString(text) + "}");
  return status;
}

// The request body, at most kLongestForm bytes. 0, or the status to answer with.
int ReadBody(mg_connection* connection, std::string* body) {
  const mg_request_info* request = mg_get_request_info(connection);
  if (request->content_length > static_cast<long long>(kLongestForm)) return 413;
  char buffer[4096];
  for (;;) {
    const int got = mg_read(connection, buffer, sizeof buffer);
    if (got < 0) return 400;
    if (got == 0) return 0;
    body->append(buffer, static_cast<std::size_t>(got));
    if (body->size() > kLongestForm) return 413;
  }
}

// An address parameter: NONE for an empty value where the command takes it.
std::string AddressParameter(std::string_view value) { return value.empty() ? "NONE" : ScpiQuoted(value); }

std::string DnsParameter(std::string_view value) {
  std::string list;
  std::string entry;
  std::istringstream entries{std::string(value)};
  while (std::getline(entries, entry, ',')) {
    std::istringstream words(entry);
    for (std::string word; words >> word;) list += (list.empty() ? "" : ",") + ScpiQuoted(word);
  }
  return list.empty() ? "NONE" : list;
}

// A setting as its query answers it, as the form shows it: NONE as empty, a string
// without its quotes.
std::string StoredValue(ScpiConnection& scpi, const char* query) {
  const std::string value = scpi.Query(query);
  return value == "NONE" ? std::string() : ScpiUnquoted(value);
}

int OnRequest(mg_connection* connection, void* server) {
  return static_cast<WebServer*>(server)->HandleRequest(connection);
}
int OnSocketConnect(const mg_connection*, void*) { return 0; }
void OnSocketReady(mg_connection* connection, void* server) {
  static_cast<WebServer*>(server)->WebSocketReady(connection);
}
// What a browser sends on the WebSocket is read and dropped: the socket only carries
// notices to it.
int OnSocketData(mg_connection*, int, char*, size_t, void*) { return 1; }
void OnSocketClose(const mg_connection* connection, void* server) {
  static_cast<WebServer*>(server)->WebSocketClosed(connection);
}
int OnLog(const mg_connection*, const char*) { return 1; }  // civetweb's own lines stay quiet

}  // namespace

WebServer::WebServer(WebServerOptions options)
    : options_(std::move(options)),
      pages_(options_.raw_port),
      panels_(options_.raw_port),
      console_(options_.raw_port) {}

WebServer::~WebServer() {
  if (context_ != nullptr) mg_stop(context_);
  events_.reset();
}

int WebServer::Start() {
  mg_init_library(MG_FEATURES_WEBSOCKET);
  const char* settings[] = {
      "listening_ports", options_.listen.c_str(),
      "num_threads", kServingThreads,
      "listen_backlog", kQueuedConnections,
      "connection_queue", kQueuedConnections,
      "request_timeout_ms", kRequestTimeoutMs,
      "max_request_size", kLongestHeader,
      "enable_keep_alive", "yes",
      "tcp_nodelay", "1",
      "enable_websocket_ping_pong", "yes",
      "websocket_timeout_ms", "3600000",
      nullptr,
  };
  mg_callbacks callbacks{};
  callbacks.log_access = OnLog;
  context_ = mg_start(&callbacks, this, settings);
  if (context_ == nullptr) return -1;
  mg_set_request_handler(context_, "/", OnRequest, this);
  mg_set_websocket_handler(context_, "/ws", OnSocketConnect, OnSocketReady, OnSocketData, OnSocketClose, this);
  events_ = std::make_unique<EventListener>(options_.command_port, options_.event_port,
                                            [this](uint32_t word) { Broadcast(word); });
  events_->Start();
  return 0;
}

void WebServer::WebSocketReady(mg_connection* connection) {
  std::lock_guard<std::mutex> hold(sockets_mutex_);
  sockets_.insert(connection);
}

void WebServer::WebSocketClosed(const mg_connection* connection) {
  std::lock_guard<std::mutex> hold(sockets_mutex_);
  sockets_.erase(const_cast<mg_connection*>(connection));
}

void WebServer::Broadcast(uint32_t word) {
  const std::string json = NoticeJson(word);
  std::lock_guard<std::mutex> hold(sockets_mutex_);
  for (mg_connection* socket : sockets_) {
    mg_websocket_write(socket, MG_WEBSOCKET_OPCODE_TEXT, json.data(), json.size());
  }
}

int WebServer::HandleRequest(mg_connection* connection) {
  const mg_request_info* request = mg_get_request_info(connection);
  const std::string method = request->request_method;
  std::string path = request->local_uri != nullptr ? request->local_uri : "";
  const bool get = method == "GET" || method == "HEAD";
  const bool post = method == "POST";
  if (request->query_string != nullptr && !ParseForm(request->query_string)) {
    return Error(connection, 400, "malformed query string");
  }
  // Each route and the methods it takes.
  const auto only = [&](bool allowed, const char* allow) {
    return allowed ? 0 : Error(connection, 405, "method not allowed", std::string("Allow: ") + allow + "\r\n");
  };
  int refused = 0;
  if (path == "/" || path == "/index.html") {
    return (refused = only(get, "GET, HEAD")) ? refused : Welcome(connection);
  }
  if (path == "/lan" || path == "/lan.html") {
    return (refused = only(get || post, "GET, HEAD, POST")) ? refused : LanPage(connection, post);
  }
  if (path == "/identify") return (refused = only(post, "POST")) ? refused : Identify(connection);
  if (path == "/lxi/identification" || path == "/lxi/identification/") {
    return (refused = only(get, "GET, HEAD")) ? refused : Identification(connection);
  }
  if (path == "/cage") return (refused = only(get, "GET, HEAD")) ? refused : Asset(connection, "cage.html");
  if (path == "/api/cage") return (refused = only(get, "GET, HEAD")) ? refused : Cage(connection);
  if (path == "/api/panel") return (refused = only(post, "POST")) ? refused : Scpi(connection, panels_);
  if (path == "/api/scpi") return (refused = only(post, "POST")) ? refused : Scpi(connection, console_);
  if (path == "/ws") return Error(connection, 400, "WebSocket only");
  // An asset: one plain name with a known extension, straight under the assets folder.
  const std::string name = path.substr(1);
  if (!name.empty() && name.find_first_of("/\\") == std::string::npos && name[0] != '.' &&
      AssetType(name) != nullptr) {
    return (refused = only(get, "GET, HEAD")) ? refused : Asset(connection, name);
  }
  return Error(connection, 404, "not found");
}

int WebServer::Asset(mg_connection* connection, const std::string& name) {
  std::string content;
  if (!ReadWhole(options_.assets + "/" + name, &content)) return Error(connection, 404, "not found");
  Respond(connection, 200, AssetType(name), content);
  return 200;
}

int WebServer::Welcome(mg_connection* connection) {
  std::string page;
  if (!ReadWhole(options_.assets + "/index.html", &page)) return Error(connection, 500, "index.html is missing");
  const InstrumentInfo info = ReadInstrumentInfo(pages_);
  Respond(connection, 200, "text/html; charset=utf-8",
          FillTemplate(page, [&](std::string_view key) -> std::optional<std::string> {
            const auto found = info.find(key);
            if (found == info.end()) return std::nullopt;
            return found->second;
          }));
  return 200;
}

int WebServer::Identification(mg_connection* connection) {
  const char* host = mg_get_header(connection, "Host");
  const InstrumentInfo info = ReadInstrumentInfo(pages_);
  Respond(connection, 200, "text/xml; charset=utf-8",
          IdentificationXml(info, host != nullptr ? host : info.at("ip")));
  return 200;
}

int WebServer::Identify(mg_connection* connection) {
  std::string body;
  if (const int status = ReadBody(connection, &body)) return Error(connection, status, "bad request body");
  const auto fields = ParseForm(body);
  if (!fields) return Error(connection, 400, "malformed form");
  std::string state = FieldValue(*fields, "state");
  if (state.empty()) state = pages_.Query("SYST:COMM:LAN:IDEN?") == "1" ? "off" : "on";
  if (state != "on" && state != "off") return Error(connection, 400, "state is on or off");
  const ScpiResult result = pages_.Exchange(std::string("SYST:COMM:LAN:IDEN ") + (state == "on" ? "ON" : "OFF"));
  if (!result.done || !result.errors.empty()) {
    return Error(connection, 502, result.done ? result.errors.front() : result.failure);
  }
  mg_printf(connection, "HTTP/1.1 303 See Other\r\nLocation: /\r\nContent-Length: 0\r\n\r\n");
  return 303;
}

int WebServer::LanPage(mg_connection* connection, bool post) {
  std::string message;
  bool restart = false;
  if (post) {
    // Digest authentication against the stored user list: a wrong or missing answer
    // changes nothing.
    std::string body;
    if (const int status = ReadBody(connection, &body)) return Error(connection, status, "bad request body");
    if (mg_check_digest_access_authentication(connection, kWebRealm, options_.users.c_str()) <= 0) {
      mg_send_digest_access_authentication_request(connection, kWebRealm);
      return 401;
    }
    const auto fields = ParseForm(body);
    if (!fields) return Error(connection, 400, "malformed form");
    std::vector<std::string> commands;
    // Settings that the LAN takes up only when it starts again: a LAN reset follows them.
    restart = FieldValue(*fields, "reset") == "1";
    if (!restart) {
      // Only what differs from the stored settings is sent.
      struct Setting {
        const char* field;
        const char* query;
        const char* command;
        std::string (*parameter)(std::string_view);
        bool restarts;  // taken up when the LAN starts again
      };
      static const Setting kSettings[] = {
          {"ip", "SYST:COMM:LAN:MAN:IPAD?", "SYST:COMM:LAN:MAN:IPAD ", ScpiQuoted, true},
          {"mask", "SYST:COMM:LAN:MAN:SMAS?", "SYST:COMM:LAN:MAN:SMAS ", ScpiQuoted, true},
          {"gateway", "SYST:COMM:LAN:MAN:GATE?", "SYST:COMM:LAN:MAN:GATE ", AddressParameter, true},
          {"dns", "SYST:COMM:LAN:MAN:DNS?", "SYST:COMM:LAN:MAN:DNS ", DnsParameter, true},
          {"hostname", "SYST:COMM:LAN:HOST?", "SYST:COMM:LAN:HOST ", ScpiQuoted, true},
          {"domain", "SYST:COMM:LAN:DOM?", "SYST:COMM:LAN:DOM ", ScpiQuoted, true},
          {"description", "SYST:COMM:LAN:DESC?", "SYST:COMM:LAN:DESC ", ScpiQuoted, false},
          {"servicename", "SYST:COMM:LAN:SERV?", "SYST:COMM:LAN:SERV ", ScpiQuoted, true},
      };
      const std::string mode = FieldValue(*fields, "mode");
      if (!mode.empty() && mode != "static" && mode != "dhcp") return Error(connection, 400, "mode is static or dhcp");
      for (const Setting& setting : kSettings) {
        bool present = false;
        for (const auto& field : *fields) present = present || field.first == setting.field;
        if (!present) continue;
        const std::string value = Trimmed(FieldValue(*fields, setting.field));
        if (value == StoredValue(pages_, setting.query)) continue;
        commands.push_back(setting.command + setting.parameter(value));
      }
      const bool manual = pages_.Query("SYST:COMM:LAN:MODE?").rfind("MAN", 0) == 0;
      if ((mode == "static" && !manual) || (mode == "dhcp" && manual)) {
        commands.push_back(std::string("SYST:COMM:LAN:MODE ") + (mode == "static" ? "MAN" : "AUTO"));
      }
      for (const std::string& command : commands) {
        const ScpiResult result = pages_.Exchange(command);
        message += command + ": ";
        if (!result.done) {
          message += result.failure + "\n";
        } else if (result.errors.empty()) {
          message += "done\n";
          for (const Setting& setting : kSettings) {
            restart = restart || (setting.restarts && command.rfind(setting.command, 0) == 0);
          }
          restart = restart || command.rfind("SYST:COMM:LAN:MODE ", 0) == 0;
        } else {
          for (const std::string& error : result.errors) message += error + " ";
          message += "\n";
        }
      }
    }
    if (restart) {
      message += "SYST:COMM:LAN:RES: the LAN starts again with these settings now; "
                 "the pages are back at the instrument's address in a few seconds.\n";
    }
    if (message.empty()) message = "Nothing changed.";
  }
  std::string page;
  if (!ReadWhole(options_.assets + "/lan.html", &page)) return Error(connection, 500, "lan.html is missing");
  InstrumentInfo values;
  const bool manual = pages_.Query("SYST:COMM:LAN:MODE?").rfind("MAN", 0) == 0;
  values["dhcp_checked"] = manual ? "" : "checked";
  values["static_checked"] = manual ? "checked" : "";
  const auto stored = [&](const char* query) { return StoredValue(pages_, query); };
  values["ip"] = stored("SYST:COMM:LAN:MAN:IPAD?");
  values["mask"] = stored("SYST:COMM:LAN:MAN:SMAS?");
  values["gateway"] = stored("SYST:COMM:LAN:MAN:GATE?");
  values["dns"] = stored("SYST:COMM:LAN:MAN:DNS?");
  values["hostname"] = stored("SYST:COMM:LAN:HOST?");
  values["domain"] = stored("SYST:COMM:LAN:DOM?");
  values["description"] = stored("SYST:COMM:LAN:DESC?");
  values["servicename"] = stored("SYST:COMM:LAN:SERV?");
  values["message"] = message;
  values["web_user"] = kDefaultWebUser;
  Respond(connection, 200, "text/html; charset=utf-8",
          FillTemplate(page, [&](std::string_view key) -> std::optional<std::string> {
            const auto found = values.find(key);
            if (found == values.end()) return std::nullopt;
            return found->second;
          }));
  if (restart) {
    // The LAN reset restarts this server too: it is sent once this answer is out.
    std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      pages_.Exchange("SYST:COMM:LAN:RES");
    }).detach();
  }
  return 200;
}

int WebServer::Cage(mg_connection* connection) {
  struct Slot {
    int slot;
    std::string entry;  // the JSON object without its closing brace
  };
  std::vector<Slot> slots;
  for (int slot = 0; slot <= 12; ++slot) {
    const std::string folder = options_.controls + (slot == 0 ? std::string("/system") : "/slot" + std::to_string(slot));
    std::string model;
    if (!ReadWhole(folder + "/model", &model)) continue;
    std::string width;
    std::string height;
    std::string archive;
    const bool panel = ReadWhole(folder + "/archive", &archive);
    ReadWhole(folder + "/width", &width);
    ReadWhole(folder + "/height", &height);
    slots.push_back({slot, "{\"slot\":" + std::to_string(slot) + ",\"model\":" + JsonString(Trimmed(model)) +
                               ",\"width\":" + std::to_string(std::atoi(width.c_str())) +
                               ",\"height\":" + std::to_string(std::atoi(height.c_str())) +
                               ",\"panel\":" + (panel ? "true" : "false")});
  }
  // Every card's channel numbers in one message, so the panels are drawn without asking
  // each for its own; a failure leaves them out and the panels ask.
  std::string query;
  for (const Slot& slot : slots) {
    if (slot.slot == 0) continue;
    query += (query.empty() ? "SYST:MOD:CHAN:LIST? " : ";:SYST:MOD:CHAN:LIST? ") + std::to_string(slot.slot);
  }
  std::vector<std::string> lists;
  if (!query.empty()) {
    const ScpiResult result = panels_.Exchange(query);
    if (result.done && result.errors.empty()) {
      std::istringstream replies(result.reply);
      for (std::string list; std::getline(replies, list, ';');) lists.push_back(list);
    }
  }
  const auto cards = std::count_if(slots.begin(), slots.end(), [](const Slot& slot) { return slot.slot != 0; });
  const bool listed = lists.size() == static_cast<std::size_t>(cards);
  std::string json = "{\"slots\":[";
  std::size_t next_list = 0;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    json += (i ? "," : "") + slots[i].entry;
    if (listed && slots[i].slot != 0) json += ",\"channels\":" + JsonString(lists[next_list++]);
    json += "}";
  }
  Respond(connection, 200, "application/json", json + "]}");
  return 200;
}

int WebServer::Scpi(mg_connection* connection, ScpiConnection& scpi) {
  std::string message;
  if (const int status = ReadBody(connection, &message)) return JsonError(connection, status, "bad request body");
  if (const std::string refused = RefusedMessage(message); !refused.empty()) {
    return JsonError(connection, 400, refused);
  }
  const ScpiResult result = scpi.Exchange(message);
  if (!result.done) return JsonError(connection, 502, result.failure);
  std::string json = "{\"reply\":" + JsonString(result.reply) + ",\"errors\":[";
  for (std::size_t i = 0; i < result.errors.size(); ++i) json += (i ? "," : "") + JsonString(result.errors[i]);
  Respond(connection, 200, "application/json", json + "]}");
  return 200;
}

}  // namespace web

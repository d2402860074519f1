#pragma once
// The server's HTTP side (Boost.Beast): connections, their limits and deadlines, one log line a
// request, and the shutdown on SIGTERM or SIGINT. Every answer comes from the Api.
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "server/Api.hpp"
#include "server/Relay.hpp"

namespace qr {

struct HttpConfig {
  std::string address = "127.0.0.1";
  unsigned short port = 8080;  // 0: any free port (said in the log)
  int ioThreads = 2;
  std::size_t maxBody = 1024 * 1024 + 64 * 1024;  // a submission with its JSON around it
  std::size_t maxHeader = 8192;
  std::chrono::seconds headerTimeout{10};  // for the request line and headers, from the first byte waited for
  std::chrono::seconds bodyTimeout{30};    // for the body
  std::size_t maxConnections = 1000;
  RelayLimits relay;  // network play's rooms
};

// Serves until SIGTERM or SIGINT: then stops accepting, calls drain (which returns once the
// verifications in flight are done and answered) and lets the last answers go out. Returns the
// exit code: 0, or 1 when the address cannot be listened on (after a message).
int ServeHttp(Api& api, const HttpConfig& config, const std::function<void()>& drain);

// "127.0.0.1:8080", "[::1]:8080", ":8080" (every address) into the config; false when malformed.
bool ParseListen(const std::string& text, HttpConfig& config);

}  // namespace qr

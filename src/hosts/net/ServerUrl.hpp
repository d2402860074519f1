#pragma once
// Where the rankings server is, as a player gives it: "http://HOST:PORT/PATH", or https:// (the
// server behind a TLS proxy), or the same with ws:// and wss://.
#include <optional>
#include <string>

namespace qr {

struct ServerUrl {
  bool secure = false;  // TLS: https:// or wss://
  std::string host;     // without the brackets of an IPv6 address
  std::string port;     // 80 or 443 when not given
  std::string path;     // ends with '/'
};

// Nothing, with the reason, when url is not one.
std::optional<ServerUrl> ParseServerUrl(const std::string& url, std::string& error);

}  // namespace qr

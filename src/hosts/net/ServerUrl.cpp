#include "hosts/net/ServerUrl.hpp"

namespace qr {

std::optional<ServerUrl> ParseServerUrl(const std::string& url, std::string& error) {
  ServerUrl parsed;
  std::string rest;
  for (const char* scheme : {"http://", "ws://", "https://", "wss://"}) {
    const std::string s(scheme);
    if (url.rfind(s, 0) == 0) {
      rest = url.substr(s.size());
      parsed.secure = s == "https://" || s == "wss://";
    }
  }
  if (rest.empty()) {
    error = "the server's address must start with http:// or https://";
    return std::nullopt;
  }
  const std::size_t slash = rest.find('/');
  const std::string authority = rest.substr(0, slash);
  parsed.path = slash == std::string::npos ? "/" : rest.substr(slash);
  if (parsed.path.back() != '/') parsed.path += '/';
  const std::size_t colon = authority.rfind(':');
  const bool bracketed = !authority.empty() && authority.front() == '[';
  const bool hasPort = colon != std::string::npos && (!bracketed || authority[colon - 1] == ']');
  parsed.host = hasPort ? authority.substr(0, colon) : authority;
  parsed.port = hasPort ? authority.substr(colon + 1) : parsed.secure ? "443" : "80";
  if (parsed.host.size() >= 2 && parsed.host.front() == '[' && parsed.host.back() == ']') {
    parsed.host = parsed.host.substr(1, parsed.host.size() - 2);
  }
  if (parsed.host.empty() || parsed.host.size() > 253 ||
      parsed.host.find_first_of(" \t\r\n/@[]") != std::string::npos || parsed.port.empty() || parsed.port.size() > 5 ||
      parsed.port.find_first_not_of("0123456789") != std::string::npos || std::stoi(parsed.port) < 1 ||
      std::stoi(parsed.port) > 65535 || parsed.path.size() > 200 ||
      parsed.path.find_first_of(" \t\r\n?#") != std::string::npos) {
    error = "not a server address: " + url.substr(0, 100);
    return std::nullopt;
  }
  return parsed;
}

}  // namespace qr

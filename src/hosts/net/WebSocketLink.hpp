#pragma once
// The link of network play to the rankings server's relay, over a WebSocket: the host opens a room,
// the guest joins it by its code; then each side's messages reach the other. On Linux it is
// Boost.Beast's, the server's own library, with OpenSSL for TLS (WebSocketLink.cpp); on Windows
// WinHTTP's, part of the system, with its TLS, certificates and proxies (WinHttpLink.cpp).
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "hosts/shared/Lockstep.hpp"

namespace qr {

class WebSocketLink final : public LockstepLink {
 public:
  // Connects to the relay of the server at url ("http://HOST:PORT/", "https://HOST/", see
  // ServerUrl), over TLS for https:// and wss:// with the server's certificate checked: code empty
  // opens a room, whose code the relay sends first; otherwise joins the room of code (the code is
  // appended to api/rooms/: "CODE/watch" watches the room's game). Nothing, with the reason, when
  // the server cannot be reached within timeout.
  static std::unique_ptr<WebSocketLink> Connect(const std::string& url, const std::string& code,
                                                std::chrono::milliseconds timeout, std::string& error);
  ~WebSocketLink() override;
  WebSocketLink(const WebSocketLink&) = delete;
  WebSocketLink& operator=(const WebSocketLink&) = delete;

  void Send(const std::string& message) override;
  std::optional<std::string> Receive(std::chrono::milliseconds timeout, bool& closed) override;

  struct State;

 private:
  explicit WebSocketLink(std::shared_ptr<State> state) : state_(std::move(state)) {}
  std::shared_ptr<State> state_;
};

}  // namespace qr

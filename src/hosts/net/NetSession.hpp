#pragma once
// The start of a game with a friend for the desktop game: the room on the server and the other
// player (the Lockstep wrapper then shakes hands over the link).
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "hosts/net/WebSocketLink.hpp"
#include "hosts/shared/Lockstep.hpp"

namespace qr {

struct NetSession {
  std::unique_ptr<WebSocketLink> link;
  Lockstep::Side side = Lockstep::Side::Host;
  std::string room;
};

// Hosting (code empty) opens a room on the server at url, says its code (say) and waits for the
// friend up to wait; joining takes the room of code. Nothing, with the reason in error, when any
// of it fails.
std::optional<NetSession> StartNetSession(const std::string& url, const std::string& code, std::chrono::seconds wait,
                                          const std::function<void(const std::string&)>& say, std::string& error);

// Watching the game of the room of code on the server at url: the link to the relay, which then
// hands the players' messages (see Spectator). Nothing, with the reason in error, when the server
// cannot be reached or the code is not one.
std::unique_ptr<WebSocketLink> StartWatching(const std::string& url, const std::string& code, std::string& error);

// A room code as the relay makes them: six of A-Z and 2-9 without I and O.
bool IsRoomCode(const std::string& code);

}  // namespace qr

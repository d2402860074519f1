#include "hosts/net/NetSession.hpp"

#include <nlohmann/json.hpp>

namespace qr {

namespace {

constexpr std::chrono::seconds kConnectTimeout{10};

// The relay's next word before the game: {"room": CODE}, {"paired": true} or {"bye": why}.
std::optional<nlohmann::json> Hear(LockstepLink& link, std::chrono::milliseconds wait, std::string& error) {
  bool closed = false;
  const std::optional<std::string> text = link.Receive(wait, closed);
  if (!text) {
    error = closed ? "the server closed the connection" : "nobody came in time";
    return std::nullopt;
  }
  nlohmann::json message = nlohmann::json::parse(*text, nullptr, false);
  if (!message.is_object()) {
    error = "the server answered with something other than the game's messages";
    return std::nullopt;
  }
  if (message.contains("bye")) {
    error = message["bye"].is_string() ? message["bye"].get<std::string>() : "the server refused";
    return std::nullopt;
  }
  return message;
}

}  // namespace

bool IsRoomCode(const std::string& code) {
  return code.size() == 6 && code.find_first_not_of("ABCDEFGHJKLMNPQRSTUVWXYZ23456789") == std::string::npos;
}

std::unique_ptr<WebSocketLink> StartWatching(const std::string& url, const std::string& code, std::string& error) {
  if (!IsRoomCode(code)) {
    error = "a room's code is six letters and digits, as the host was told";
    return nullptr;
  }
  return WebSocketLink::Connect(url, code + "/watch", kConnectTimeout, error);
}

std::optional<NetSession> StartNetSession(const std::string& url, const std::string& code, std::chrono::seconds wait,
                                          const std::function<void(const std::string&)>& say, std::string& error) {
  if (!code.empty() && !IsRoomCode(code)) {
    error = "a room's code is six letters and digits, as the host was told";
    return std::nullopt;
  }
  NetSession session;
  session.side = code.empty() ? Lockstep::Side::Host : Lockstep::Side::Guest;
  session.link = WebSocketLink::Connect(url, code, kConnectTimeout, error);
  if (!session.link) return std::nullopt;
  std::optional<nlohmann::json> heard;
  if (code.empty()) {
    heard = Hear(*session.link, kConnectTimeout, error);
    if (!heard) return std::nullopt;
    const nlohmann::json room = heard->value("room", nlohmann::json());
    if (!room.is_string() || !IsRoomCode(room.get<std::string>())) {
      error = "the server opened no room";
      return std::nullopt;
    }
    session.room = room.get<std::string>();
    const std::string page = url + (url.back() == '/' ? "" : "/");
    say("room " + session.room + ": your friend joins with --join " + session.room + " --server " + url +
        " (or opens " + page + "?join=" + session.room + "); anyone may watch with --spectate " + session.room +
        " --server " + url + " (or at " + page + "?spectate=" + session.room + ")");
  }
  heard = Hear(*session.link, code.empty() ? std::chrono::milliseconds(wait) : kConnectTimeout, error);
  if (!heard) return std::nullopt;
  if (heard->value("paired", false) != true) {
    error = "the server did not pair the room";
    return std::nullopt;
  }
  return session;
}

}  // namespace qr

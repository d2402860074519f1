#include "server/Relay.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <vector>

#include "server/Api.hpp"

namespace qr {

using json = nlohmann::json;

std::string NewRoomCode() {
  static constexpr char kLetters[] = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";  // no I, O, 0 or 1
  unsigned char raw[6];
  RandomBytes(raw, sizeof raw);
  std::string code;
  for (const unsigned char c : raw) code += kLetters[c % 32];
  return code;
}

void Relay::Open(const std::shared_ptr<RelayPeer>& host) {
  std::lock_guard lock(mutex_);
  if (rooms_.size() >= limits_.maxRooms) return host->Drop("too many rooms are open; try again later");
  std::string code = NewRoomCode();
  while (rooms_.count(code) != 0) code = NewRoomCode();
  Room& room = rooms_[code];
  room.opened = std::chrono::steady_clock::now();
  room.host.peer = host;
  room.host.tokens = limits_.perSecond;
  room.host.last = room.opened;
  host->Deliver(json{{"room", code}}.dump());
}

void Relay::Join(const std::string& code, const std::shared_ptr<RelayPeer>& guest) {
  std::lock_guard lock(mutex_);
  const auto found = rooms_.find(code);
  if (found == rooms_.end()) return guest->Drop("there is no room " + code);
  Room& room = found->second;
  if (room.guest.peer) return guest->Drop("room " + code + " has its two players");
  room.guest.peer = guest;
  room.guest.tokens = limits_.perSecond;
  room.guest.last = std::chrono::steady_clock::now();
  const std::string paired = json{{"paired", true}}.dump();
  room.host.peer->Deliver(paired);
  guest->Deliver(paired);
}

void Relay::Spectate(const std::string& code, const std::shared_ptr<RelayPeer>& spectator) {
  std::lock_guard lock(mutex_);
  const auto found = rooms_.find(code);
  if (found == rooms_.end()) return spectator->Drop("there is no room " + code);
  Room& room = found->second;
  if (room.spectators.size() >= limits_.maxSpectators)
    return spectator->Drop("room " + code + " has as many spectators as it takes");
  if (room.logFull) return spectator->Drop("this game is too long to watch from its start");
  Member& member = room.spectators.emplace_back();
  member.peer = spectator;
  member.tokens = limits_.spectatorPerSecond;
  member.last = std::chrono::steady_clock::now();
  for (const std::string& piece : room.log) spectator->Deliver("[" + piece + "]");
}

Relay::Room* Relay::Find(RelayPeer& peer, Member*& self, Member*& other, std::string& code) {
  for (auto& [c, room] : rooms_) {
    code = c;
    const bool host = room.host.peer.get() == &peer;
    if (host || room.guest.peer.get() == &peer) {
      self = host ? &room.host : &room.guest;
      other = host ? &room.guest : &room.host;
      return &room;
    }
    for (Member& spectator : room.spectators) {
      if (spectator.peer.get() != &peer) continue;
      self = &spectator;
      other = nullptr;
      return &room;
    }
  }
  return nullptr;
}

void Relay::Close(const std::string& code, const std::string& why, RelayPeer* except, const std::string& watchersWhy) {
  const auto found = rooms_.find(code);
  if (found == rooms_.end()) return;
  for (Member* m : {&found->second.host, &found->second.guest}) {
    if (m->peer && m->peer.get() != except) m->peer->Drop(why);
  }
  for (Member& m : found->second.spectators) m.peer->Drop(watchersWhy.empty() ? why : watchersWhy);
  logs_ -= found->second.logSize;
  rooms_.erase(found);
}

void Relay::Watched(Room& room, bool host, const std::string& text) {
  const std::string entry = std::string(host ? "{\"h\":" : "{\"g\":") + text + "}";
  for (Member& m : room.spectators) m.peer->Deliver("[" + entry + "]");
  if (room.logFull) return;
  if (room.logSize + entry.size() + 1 > limits_.maxLog || logs_ + entry.size() + 1 > limits_.maxLogs) {
    // Nobody more can watch from the start: the log is let go.
    room.logFull = true;
    logs_ -= room.logSize;
    room.logSize = 0;
    room.log = {};
    return;
  }
  if (room.log.empty() || room.log.back().size() + entry.size() + 1 > kSpectatorBatch) {
    room.log.emplace_back();
    room.log.back().reserve(kSpectatorBatch);
  } else {
    room.log.back() += ',';
    ++room.logSize;
    ++logs_;
  }
  room.log.back() += entry;
  room.logSize += entry.size();
  logs_ += entry.size();
}

bool Relay::Tokens(Member& member, double perSecond) {
  const auto now = std::chrono::steady_clock::now();
  member.tokens =
      std::min(perSecond, member.tokens + std::chrono::duration<double>(now - member.last).count() * perSecond);
  member.last = now;
  if (member.tokens < 1) return false;
  member.tokens -= 1;
  return true;
}

void Relay::Message(RelayPeer& from, const std::string& text) {
  std::lock_guard lock(mutex_);
  Member* self = nullptr;
  Member* other = nullptr;
  std::string code;
  Room* room = Find(from, self, other, code);
  if (room == nullptr) return from.Drop("not in a room");
  if (other == nullptr) {
    // A spectator has nothing to say; one that keeps talking goes, and nothing else changes.
    if (Tokens(*self, limits_.spectatorPerSecond)) return;
    const std::shared_ptr<RelayPeer> peer = self->peer;
    std::erase_if(room->spectators, [&](const Member& m) { return m.peer == peer; });
    return peer->Drop("a spectator floods");
  }
  const bool host = self == &room->host;
  std::string bad;
  json message;
  if (text.size() > limits_.maxMessage) {
    bad = "a message larger than " + std::to_string(limits_.maxMessage) + " bytes";
  } else if (!Tokens(*self, limits_.perSecond)) {
    bad = "more than " + std::to_string(static_cast<int>(limits_.perSecond)) + " messages a second";
  } else if (!other->peer) {
    bad = "a message before the other player came";
  } else {
    message = json::parse(text, nullptr, false);
    if (!message.is_object()) {
      bad = "something that is not a message of the game";
    } else if (message.contains("k")) {
      const json& k = message["k"];
      if (!k.is_number_integer() || k.get<std::int64_t>() != self->pass + 1)
        bad = "its passes out of order";
      else
        self->pass = k.get<std::int64_t>();
    }
  }
  if (!bad.empty()) return Close(code, (host ? "the host" : "the guest") + std::string(" sent ") + bad, nullptr);
  other->peer->Deliver(text);
  // What whoever watches needs: the start, the passes and the byes (not the pings of the start).
  if (message.contains("k") || message.contains("bye") || (host && message.contains("start")))
    Watched(*room, host, message.dump(-1, ' ', false, json::error_handler_t::replace));
}

void Relay::Leave(RelayPeer& peer) {
  std::lock_guard lock(mutex_);
  Member* self = nullptr;
  Member* other = nullptr;
  std::string code;
  Room* room = Find(peer, self, other, code);
  if (room == nullptr) return;
  if (other == nullptr) {
    std::erase_if(room->spectators, [&](const Member& m) { return m.peer.get() == &peer; });
    return;
  }
  Close(code, "the other player left", &peer, self == &room->host ? "the host left" : "the guest left");
}

std::size_t Relay::Expire() {
  std::lock_guard lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  std::vector<std::string> stale;
  for (const auto& [code, room] : rooms_) {
    if (!room.guest.peer && now - room.opened > limits_.waitForGuest) stale.push_back(code);
  }
  for (const std::string& code : stale) Close(code, "nobody joined the room in time", nullptr);
  return rooms_.size();
}

}  // namespace qr

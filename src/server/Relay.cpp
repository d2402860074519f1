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

Relay::Room* Relay::Find(RelayPeer& peer, Member*& self, Member*& other, std::string& code) {
  for (auto& [c, room] : rooms_) {
    const bool host = room.host.peer.get() == &peer;
    if (!host && room.guest.peer.get() != &peer) continue;
    self = host ? &room.host : &room.guest;
    other = host ? &room.guest : &room.host;
    code = c;
    return &room;
  }
  return nullptr;
}

void Relay::Close(const std::string& code, const std::string& why, RelayPeer* except) {
  const auto found = rooms_.find(code);
  if (found == rooms_.end()) return;
  for (Member* m : {&found->second.host, &found->second.guest}) {
    if (m->peer && m->peer.get() != except) m->peer->Drop(why);
  }
  rooms_.erase(found);
}

void Relay::Message(RelayPeer& from, const std::string& text) {
  std::lock_guard lock(mutex_);
  Member* self = nullptr;
  Member* other = nullptr;
  std::string code;
  if (Find(from, self, other, code) == nullptr) return from.Drop("not in a room");
  const auto now = std::chrono::steady_clock::now();
  self->tokens = std::min(limits_.perSecond,
                          self->tokens + std::chrono::duration<double>(now - self->last).count() * limits_.perSecond);
  self->last = now;
  std::string bad;
  if (text.size() > limits_.maxMessage) {
    bad = "a message larger than " + std::to_string(limits_.maxMessage) + " bytes";
  } else if (self->tokens < 1) {
    bad = "more than " + std::to_string(static_cast<int>(limits_.perSecond)) + " messages a second";
  } else if (!other->peer) {
    bad = "a message before the other player came";
  } else {
    self->tokens -= 1;
    const json message = json::parse(text, nullptr, false);
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
  if (!bad.empty()) {
    const bool host = self == &rooms_[code].host;
    return Close(code, (host ? "the host" : "the guest") + std::string(" sent ") + bad, nullptr);
  }
  other->peer->Deliver(text);
}

void Relay::Leave(RelayPeer& peer) {
  std::lock_guard lock(mutex_);
  Member* self = nullptr;
  Member* other = nullptr;
  std::string code;
  if (Find(peer, self, other, code) == nullptr) return;
  Close(code, "the other player left", &peer);
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

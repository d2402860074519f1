#pragma once
// The meeting point of network play: a host opens a room and gets its code, a guest joins it with
// the code, and from then on the relay passes each one's messages to the other. It keeps no game
// state: a room's two members, each one's rate and the last pass number it sent. A member that
// misbehaves (a message too large, too many a second, passes out of order, something that is not
// a message of the game) is dropped, and the other is told.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace qr {

// A member's connection, as the relay sees it.
class RelayPeer {
 public:
  virtual ~RelayPeer() = default;
  // Hands a message to the member (queued; never blocks).
  virtual void Deliver(const std::string& message) = 0;
  // Closes the member's connection, its last message {"bye": why}.
  virtual void Drop(const std::string& why) = 0;
};

struct RelayLimits {
  std::size_t maxMessage = 8192;           // bytes (the start carries the host's table)
  double perSecond = 400;                  // messages a member may send, with as many at once
  std::size_t maxRooms = 1000;             // open at once
  std::chrono::seconds waitForGuest{600};  // a room nobody joins closes after this
  // For tests of a slow network: every message waits this long, give or take the jitter, before
  // it goes out (in order).
  std::chrono::milliseconds delay{0};
  std::chrono::milliseconds jitter{0};
};

class Relay {
 public:
  explicit Relay(RelayLimits limits = {}) : limits_(limits) {}

  // A host opens a room: it is told {"room": CODE}. Refused (dropped with the reason) when there
  // are too many rooms.
  void Open(const std::shared_ptr<RelayPeer>& host);
  // A guest joins the room of that code: both are told {"paired": true}. Refused (dropped) when
  // there is no such room or it has its two members.
  void Join(const std::string& code, const std::shared_ptr<RelayPeer>& guest);
  // A message from a member, passed on to the other; a bad one drops its sender.
  void Message(RelayPeer& from, const std::string& text);
  // A member's connection ended: the other is told and dropped, and the room goes.
  void Leave(RelayPeer& peer);
  // Closes the rooms nobody joined in time; returns how many are open.
  std::size_t Expire();

 private:
  struct Member {
    std::shared_ptr<RelayPeer> peer;
    double tokens = 0;
    std::chrono::steady_clock::time_point last;
    std::int64_t pass = 0;  // the last pass number it sent
  };
  struct Room {
    Member host, guest;
    std::chrono::steady_clock::time_point opened;
  };
  // The room and the member of peer; nullptr when it is in none.
  Room* Find(RelayPeer& peer, Member*& self, Member*& other, std::string& code);
  void Close(const std::string& code, const std::string& why, RelayPeer* except);

  RelayLimits limits_;
  std::mutex mutex_;
  std::map<std::string, Room> rooms_;
};

// A room code: six characters that cannot be mistaken for one another.
std::string NewRoomCode();

}  // namespace qr

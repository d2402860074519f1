#pragma once
// The meeting point of network play: a host opens a room and gets its code, a guest joins it with
// the code, and from then on the relay passes each one's messages to the other. It keeps no game
// state: a room's two members, each one's rate and the last pass number it sent. A member that
// misbehaves (a message too large, too many a second, passes out of order, something that is not
// a message of the game) is dropped, and the other is told.
//
// Anyone with the code may also watch a room's game. For them the relay keeps, per room, a log of
// what a game needs to be played again: the host's start, every pass of both players and their
// byes. A spectator gets the whole log, then each such message as it comes, and sends nothing.
// What a spectator is handed is a JSON array of entries, each a player's message as it came
// (compacted) under its sender's initial: [{"h":{"start":…}},{"h":{"e":"","k":1}},{"g":{…}}].
// The backlog comes in arrays of up to kSpectatorBatch bytes; each later message in one of its own.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
  // Spectators: so many a room; what one may send (nothing; any message counts against this rate,
  // and more drops it); the log of a room (about half an hour of play), and of all rooms together.
  // A room whose log reaches either bound takes no more spectators; those watching go on.
  std::size_t maxSpectators = 8;
  double spectatorPerSecond = 4;
  std::size_t maxLog = 8u << 20;
  std::size_t maxLogs = 256u << 20;
};

// The largest array of the backlog that a spectator is handed, in bytes (a little more when one
// message is larger).
constexpr std::size_t kSpectatorBatch = 32 * 1024;

class Relay {
 public:
  explicit Relay(RelayLimits limits = {}) : limits_(limits) {}

  // A host opens a room: it is told {"room": CODE}. Refused (dropped with the reason) when there
  // are too many rooms.
  void Open(const std::shared_ptr<RelayPeer>& host);
  // A guest joins the room of that code: both are told {"paired": true}. Refused (dropped) when
  // there is no such room or it has its two members.
  void Join(const std::string& code, const std::shared_ptr<RelayPeer>& guest);
  // A spectator comes to watch the room of that code: it is handed the log so far. Refused
  // (dropped) when there is no such room, the room has maxSpectators, or its log was too long.
  void Spectate(const std::string& code, const std::shared_ptr<RelayPeer>& spectator);
  // A message from a member, passed on to the other; a bad one drops its sender. A spectator's
  // only counts against its rate.
  void Message(RelayPeer& from, const std::string& text);
  // A member's connection ended: the other and the spectators are told and dropped, and the room
  // goes. A spectator's ended: nothing changes for the others.
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
    std::vector<Member> spectators;
    std::vector<std::string> log;  // the entries, comma-separated, in pieces of kSpectatorBatch
    std::size_t logSize = 0;       // bytes
    bool logFull = false;          // the log went over a bound and was let go
  };
  // The room and the member of peer; nullptr when it is in none. A spectator is self, other null.
  Room* Find(RelayPeer& peer, Member*& self, Member*& other, std::string& code);
  // Whoever is left is dropped with why (the spectators with watchersWhy, when given).
  void Close(const std::string& code, const std::string& why, RelayPeer* except, const std::string& watchersWhy = {});
  // A message of a player (host or not) that a spectator needs: kept, and handed to them.
  void Watched(Room& room, bool host, const std::string& text);
  // Takes a message of a spectator: false when it floods.
  bool Tokens(Member& member, double perSecond);

  RelayLimits limits_;
  std::mutex mutex_;
  std::map<std::string, Room> rooms_;
  std::size_t logs_ = 0;  // the bytes of all rooms' logs
};

// A room code: six characters that cannot be mistaken for one another.
std::string NewRoomCode();

}  // namespace qr

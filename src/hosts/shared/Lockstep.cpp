#include "hosts/shared/Lockstep.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "game/scores/HiScoreRecord.hpp"
#include "hosts/shared/Script.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int kPings = 8;
constexpr std::chrono::milliseconds kHandshakeWait{10000};
constexpr double kPassMs = 10;          // the length of a pass in a rally
constexpr std::size_t kMaxEvents = 64;  // in one pass's message

}  // namespace

std::string EncodeInput(const std::vector<InputEvent>& events) {
  std::string text;
  for (const InputEvent& e : events) {
    if (!text.empty()) text += ',';
    switch (e.kind) {
      case InputEvent::Kind::Down:
        text += 'd' + std::to_string(e.vk);
        break;
      case InputEvent::Kind::Up:
        text += 'u' + std::to_string(e.vk);
        break;
      case InputEvent::Kind::Tap:
        text += 't' + std::to_string(e.vk);
        break;
      case InputEvent::Kind::FocusLost:
        text += 'f';
        break;
      case InputEvent::Kind::Close:
        text += 'c';
        break;
    }
  }
  return text;
}

bool DecodeInput(std::string_view text, std::vector<InputEvent>& events) {
  std::size_t count = 0;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (item.empty() || ++count > kMaxEvents) return false;
    InputEvent e;
    const char kind = item[0];
    if (kind == 'f' || kind == 'c') {
      if (item.size() != 1) return false;
      e.kind = kind == 'f' ? InputEvent::Kind::FocusLost : InputEvent::Kind::Close;
    } else {
      if (kind != 'd' && kind != 'u' && kind != 't') return false;
      e.kind = kind == 'd' ? InputEvent::Kind::Down : kind == 'u' ? InputEvent::Kind::Up : InputEvent::Kind::Tap;
      const char* first = item.data() + 1;
      const char* last = item.data() + item.size();
      auto [ptr, ec] = std::from_chars(first, last, e.vk);
      if (ec != std::errc() || ptr != last || first == last || e.vk < 1 || e.vk > 255) return false;
    }
    events.push_back(e);
  }
  return true;
}

namespace {

// The table as the start message carries it: "missing", "unreadable" or the hexadecimal bytes.
std::string TableText(const LoadedFile& table) {
  if (table.status == LoadedFile::Status::Ok) return Hex(table.bytes);
  return table.status == LoadedFile::Status::Missing ? "missing" : "unreadable";
}

bool ParseTable(const std::string& text, LoadedFile& table) {
  if (text == "missing" || text == "unreadable") {
    table.status = text == "missing" ? LoadedFile::Status::Missing : LoadedFile::Status::Unreadable;
    table.reason = "the other player's table could not be read";
    return true;
  }
  table.status = LoadedFile::Status::Ok;
  return text.size() <= 2 * kHiScoreReadLimit && FromHex(text, table.bytes);
}

// The next message as JSON within the wait; nothing, with the reason, otherwise.
std::optional<json> Next(LockstepLink& link, std::string& error) {
  bool closed = false;
  const std::optional<std::string> text = link.Receive(kHandshakeWait, closed);
  if (!text) {
    error = closed ? "the connection to the other player is lost" : "the other player does not answer";
    return std::nullopt;
  }
  json message = json::parse(*text, nullptr, false);
  if (!message.is_object()) {
    error = "the other side sent something that is not a message of this game";
    return std::nullopt;
  }
  return message;
}

// The start as the host sends it; false for anything else (a type that is not the expected one
// included: hostile bytes end the handshake with the reason, nothing throws).
bool ParseStartMessage(const json& message, int maxDelay, LockstepStart& s) {
  const json start = message.is_object() ? message.value("start", json()) : json();
  if (!start.is_object()) return false;
  const json& seedValue = start.value("seed", json());
  const json& tableValue = start.value("table", json());
  const json& delayValue = start.value("delay", json());
  if (!seedValue.is_string() || !tableValue.is_string() || !delayValue.is_number_integer()) return false;
  const std::string seed = seedValue.get<std::string>();
  const char* end = seed.data() + seed.size();
  auto [ptr, ec] = std::from_chars(seed.data(), end, s.seed);
  const std::int64_t delay = delayValue.get<std::int64_t>();
  if (seed.empty() || ec != std::errc() || ptr != end || delay < 1 || delay > maxDelay) return false;
  s.delay = static_cast<int>(delay);
  return ParseTable(tableValue.get<std::string>(), s.table);
}

}  // namespace

std::string HashText(const std::string& text) {
  std::uint64_t h = 14695981039346656037ULL;
  for (const unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  char out[17];
  for (int i = 15; i >= 0; --i, h >>= 4) out[i] = "0123456789abcdef"[h & 15];
  out[16] = '\0';
  return out;
}

std::optional<LockstepStart> HostHandshake(LockstepLink& link, std::uint64_t seed, const LoadedFile& table,
                                           const LockstepLimits& limits, std::string& error) {
  std::vector<double> trips;
  for (int i = 0; i < kPings; ++i) {
    const auto sent = Clock::now();
    link.Send(json{{"ping", i}}.dump());
    const std::optional<json> answer = Next(link, error);
    if (!answer) return std::nullopt;
    if (answer->value("pong", -1) != i) {
      error = "the other side did not answer the ping";
      return std::nullopt;
    }
    trips.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
  }
  std::sort(trips.begin(), trips.end());
  LockstepStart start;
  start.seed = seed;
  start.table = table;
  // The start waits for the usual trip; the delay is made for the slow ones (the second slowest
  // of the pings), so that a network that wavers does not hold the game at every wave.
  const double median = trips[trips.size() / 2];
  const double slow = trips[trips.size() - 2];
  start.halfTrip = std::chrono::milliseconds(static_cast<std::int64_t>(median / 2));
  const int passes = static_cast<int>(std::ceil(slow / 2 / kPassMs));
  start.delay = std::clamp(passes + 1, 1, limits.maxDelay);
  link.Send(
      json{{"start", {{"seed", std::to_string(seed)}, {"table", TableText(table)}, {"delay", start.delay}}}}.dump());
  return start;
}

std::optional<LockstepStart> GuestHandshake(LockstepLink& link, const LockstepLimits& limits, std::string& error) {
  for (;;) {
    const std::optional<json> message = Next(link, error);
    if (!message) return std::nullopt;
    if (message->contains("ping") && (*message)["ping"].is_number_integer()) {
      link.Send(json{{"pong", (*message)["ping"]}}.dump());
      continue;
    }
    LockstepStart s;
    if (!ParseStartMessage(*message, limits.maxDelay, s)) {
      error = "the other side's start is not one of this game";
      return std::nullopt;
    }
    return s;
  }
}

bool ParseStart(const std::string& message, int maxDelay, LockstepStart& start) {
  return ParseStartMessage(json::parse(message, nullptr, false), maxDelay, start);
}

Lockstep::Lockstep(Host& inner, LockstepLink& link, Side side, LockstepStart start, LockstepLimits limits)
    : HostWrapper(inner), link_(link), side_(side), start_(std::move(start)), limits_(limits) {}

Lockstep::Lockstep(Host& inner, LockstepLink& link, Side side, LockstepLimits limits)
    : HostWrapper(inner), link_(link), side_(side), limits_(limits) {
  std::string error;
  const std::optional<LockstepStart> start =
      side == Side::Host
          ? HostHandshake(link, inner.RandomSeed(), inner.LoadFile(kHiScoreFileName, kHiScoreReadLimit), limits, error)
          : GuestHandshake(link, limits, error);
  if (!start) {
    End(error, false);
    return;
  }
  start_ = *start;
  // The host begins when the start reaches the guest. (A message that comes meanwhile is taken.)
  const auto begin = Clock::now() + start_.halfTrip;
  for (auto now = Clock::now(); now < begin && why_.empty(); now = Clock::now()) {
    bool closed = false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(begin - now);
    const std::optional<std::string> message = link_.Receive(std::max(left, std::chrono::milliseconds(1)), closed);
    if (closed) End("the connection to the other player is lost", false);
    if (message) Receive(*message);
  }
}

Lockstep::~Lockstep() {
  if (why_.empty()) link_.Send(json{{"bye", "the other player left"}}.dump());
}

void Lockstep::Pace(std::int64_t gameMs) {
  HostWrapper::Pace(gameMs);
  ++pass_;
  std::vector<InputEvent> local;
  HostWrapper::TakeInput(local);
  if (why_.empty()) {
    // Player 1's paddle keys are the host's and player 2's the guest's, whichever it pressed
    // (but while the initials are typed every key is a character).
    std::vector<InputEvent> mine;
    for (InputEvent e : local) {
      if (!textEntry_ && side_ == Side::Host && (e.vk == vk::kUp || e.vk == vk::kDown)) continue;
      if (!textEntry_ && side_ == Side::Guest && e.vk == vk::kA) e.vk = vk::kUp;
      if (!textEntry_ && side_ == Side::Guest && (e.vk == vk::kZ || e.vk == vk::kSemicolon)) e.vk = vk::kDown;
      mine.push_back(e);
    }
    if (mine.size() > kMaxEvents) mine.resize(kMaxEvents);
    const std::string text = EncodeInput(mine);
    mine_[pass_ + start_.delay] = text;
    json message{{"k", pass_}, {"e", text}};
    if (pass_ % limits_.hashEvery == 0) {
      const Check check{stateHash_ ? stateHash_() : "",
                        aheadCount_ == 0 ? 0 : static_cast<int>(100 * aheadSum_ / aheadCount_)};
      aheadSum_ = aheadCount_ = 0;
      message["h"] = check.hash;
      message["a"] = check.ahead;
      Compare(pass_, check, true);
    }
    link_.Send(message.dump());
    WaitFor(pass_);
  }
  due_ = pass_;
}

void Lockstep::TakeInput(std::vector<InputEvent>& events) {
  if (due_) {
    const std::int64_t pass = *due_;
    due_.reset();
    const std::string host = side_ == Side::Host ? mine_[pass] : theirs_[pass];
    const std::string guest = side_ == Side::Host ? theirs_[pass] : mine_[pass];
    DecodeInput(host, events);  // both as EncodeInput wrote them, or checked as they came
    DecodeInput(guest, events);
    mine_.erase(pass);
    theirs_.erase(pass);
  } else if (pass_ == 0) {
    std::vector<InputEvent> early;  // what the host had before the first pass is nobody's input
    HostWrapper::TakeInput(early);
  }
  if (!why_.empty() && !closeDelivered_) {
    closeDelivered_ = true;
    events.push_back(InputEvent{InputEvent::Kind::Close, 0});
  }
}

void Lockstep::WaitFor(std::int64_t pass) {
  const std::int64_t needed = pass - start_.delay;  // the message of the other side's pass
  if (needed <= 0) return;
  // What has come is taken first: how far ahead of need it came is what keeps the two sides in
  // balance (see Compare).
  for (bool closed = false; received_ < needed + limits_.maxDelay && why_.empty() && gone_.empty();) {
    const std::optional<std::string> message = link_.Receive(std::chrono::milliseconds(0), closed);
    if (closed) gone_ = "the connection to the other player is lost";
    if (!message) break;
    Receive(*message);
  }
  aheadSum_ += std::clamp<std::int64_t>(received_ - needed, 0, limits_.maxDelay);
  ++aheadCount_;
  if (received_ >= needed || !why_.empty()) return;
  // The other side's input has ended: what it sent has all been played, and the session with it.
  if (!gone_.empty()) return End(gone_, false);
  const auto began = Clock::now();
  auto heard = began;
  bool said = false;
  while (why_.empty() && received_ < needed) {
    const auto now = Clock::now();
    if (!said && now - began >= limits_.waitingAfter) {
      said = true;
      if (onWaiting_) onWaiting_(true);
    }
    if (now - heard >= limits_.silenceEnds) {
      End("the other player is silent", true);
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limits_.silenceEnds - (now - heard));
    const auto wait = said ? left
                           : std::min(left, std::chrono::duration_cast<std::chrono::milliseconds>(limits_.waitingAfter -
                                                                                                  (now - began)));
    bool closed = false;
    const std::optional<std::string> message = link_.Receive(std::max(wait, std::chrono::milliseconds(1)), closed);
    if (closed) {
      End("the connection to the other player is lost", false);
      break;
    }
    if (message) {
      heard = Clock::now();
      Receive(*message);
      if (!gone_.empty() && received_ < needed) End(gone_, false);
    }
  }
  // This side ran ahead of the other: its later passes are due the later for it, rather than the
  // wait being made good by shorter sleeps and this side running ahead again at once. The two
  // sides thus settle where each one's input is in before the other needs it. A wait shorter
  // than a pass only holds this side to the other's pace; a longer one holds the game: a stall.
  const auto held = Clock::now() - began;
  inner().Held(std::chrono::duration_cast<std::chrono::microseconds>(held).count());
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(held);
  if (waited >= limits_.stallFrom) {
    ++stalls_;
    stalled_ += waited;
  }
  if (said && onWaiting_) onWaiting_(false);
}

void Lockstep::Receive(const std::string& text) {
  const json message = json::parse(text, nullptr, false);
  if (!message.is_object()) return End("the other side sent a message that is not of this game", true);
  if (!gone_.empty()) return;  // nothing counts after a goodbye
  if (message.contains("bye")) {
    // The other side's passes up to its last still count, on this side too: the session ends
    // when this side needs a pass of input that will not come.
    const json& why = message["bye"];
    gone_ = why.is_string() && why.get<std::string>().size() <= 200 ? why.get<std::string>() : "the other player left";
    return;
  }
  const json& k = message.value("k", json());
  const json& e = message.value("e", json());
  if (!k.is_number_integer() || !e.is_string())
    return End("the other side sent a message that is not of this game", true);
  if (k.get<std::int64_t>() != received_ + 1) return End("the other side's input came out of order", true);
  std::vector<InputEvent> check;
  if (!DecodeInput(e.get<std::string>(), check)) return End("the other side sent input that is not of this game", true);
  received_ = k.get<std::int64_t>();
  theirs_[received_ + start_.delay] = e.get<std::string>();
  if (message.contains("h") || message.contains("a")) {
    const json& h = message.value("h", json());
    const json& a = message.value("a", json());
    if (!h.is_string() || h.get<std::string>().size() > 64 || !a.is_number_integer() || a.get<std::int64_t>() < 0 ||
        a.get<std::int64_t>() > 100 * limits_.maxDelay) {
      return End("the other side sent a message that is not of this game", true);
    }
    Compare(received_, Check{h.get<std::string>(), a.get<int>()}, false);
  }
}

// The two checks of a pass are compared once both are in; whichever side's comes first waits.
// The game states must be the same. And the side that had the less time to spare for the other's
// input holds back by half the difference: then each side has as much to spare, and a hiccup on
// either side is the less likely to hold the other.
void Lockstep::Compare(std::int64_t pass, const Check& check, bool mine) {
  auto& other = mine ? theirChecks_ : checks_;
  const auto found = other.find(pass);
  if (found == other.end()) {
    (mine ? checks_ : theirChecks_)[pass] = check;
    return;
  }
  const Check& my = mine ? check : found->second;
  const Check& their = mine ? found->second : check;
  const bool same = my.hash == their.hash;
  const int behind = their.ahead - my.ahead;  // hundredths of a pass
  other.erase(other.begin(), std::next(found));
  if (!same) return End("the two games differ at pass " + std::to_string(pass) + " (desync)", true);
  if (behind >= 100) inner().Held(static_cast<std::int64_t>(behind / 2 * kPassMs * 10));
}

void Lockstep::End(const std::string& why, bool tellOther) {
  if (!why_.empty()) return;
  why_ = why;
  if (tellOther) link_.Send(json{{"bye", why}}.dump());
  Tell(why);
}

LoadedFile Lockstep::LoadFile(const std::string& name, std::size_t limit) {
  if (side_ == Side::Host) return HostWrapper::LoadFile(name, limit);
  if (name == kHiScoreFileName) return start_.table;
  return LoadedFile{};
}

bool Lockstep::SaveFile(const std::string& name, std::string_view bytes, std::string& error) {
  if (side_ == Side::Host) return HostWrapper::SaveFile(name, bytes, error);
  // The guest keeps nothing of its own: the table as the host saves it is what it reads again.
  if (name == kHiScoreFileName) start_.table = LoadedFile{LoadedFile::Status::Ok, std::string(bytes), {}};
  return true;
}

void Lockstep::RemoveFile(const std::string& name) {
  if (side_ == Side::Host) HostWrapper::RemoveFile(name);
}

}  // namespace qr

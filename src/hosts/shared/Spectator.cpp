#include "hosts/shared/Spectator.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "game/scores/HiScoreRecord.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int kDrainAtOnce = 256;  // messages taken from the link in one pass without waiting
constexpr std::size_t kMaxWhy = 200;
constexpr int kHashEvery = 100;  // as the players compare their games (LockstepLimits::hashEvery)
constexpr std::size_t kMaxHashes = 10'000;

std::chrono::milliseconds Since(Clock::time_point then) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - then);
}

}  // namespace

Spectator::Spectator(Host& inner, LockstepLink& link, SpectatorLimits limits)
    : HostWrapper(inner), link_(link), limits_(limits) {
  const auto began = Clock::now();
  while (!started_ && !linkGone_) {
    const auto left = limits_.startWithin - Since(began);
    if (left <= std::chrono::milliseconds(0)) break;
    Take(left);
  }
  if (!started_) End(ending_.empty() ? "the players did not start in time" : ending_);
  lastShown_ = Clock::now();
}

std::int64_t Spectator::behind() const {
  return taken_ + static_cast<std::int64_t>(std::min(host_.size(), guest_.size())) + start_.delay - pass_;
}

void Spectator::Pace(std::int64_t gameMs) {
  const std::int64_t step = std::max<std::int64_t>(gameMs - lastGameMs_, 0);
  lastGameMs_ = gameMs;
  for (int i = 0; i < kDrainAtOnce && why_.empty() && !linkGone_; ++i) {
    if (!Take(std::chrono::milliseconds(0))) break;
  }
  PaceInner(gameMs, step);
  ++pass_;
  if (stateHash_ && pass_ % kHashEvery == 0 && why_.empty()) Compare(pass_, stateHash_(), true);
  local_.clear();
  HostWrapper::TakeInput(local_);
  for (const InputEvent& e : local_) {
    if (e.kind == InputEvent::Kind::Close || (e.kind == InputEvent::Kind::Down && e.vk == vk::kEsc))
      End("you stopped watching");
  }
  const std::int64_t k = pass_ - start_.delay;  // the players' message of this pass
  if (k < 1 || !why_.empty()) return;
  WaitFor(k);
  if (!why_.empty()) return;
  // Both players' input of pass k, the host's first, as the players take it.
  DecodeInput(host_.front(), ready_);  // each checked as it came
  DecodeInput(guest_.front(), ready_);
  pendingBytes_ -= host_.front().size() + guest_.front().size();
  host_.pop_front();
  guest_.pop_front();
  taken_ = k;
}

// A paced host is handed the game time less what was caught up: while catching up the game runs
// without its sleeps, and every showEvery the host shows a picture, the time spent meanwhile
// being time held rather than a lateness to make good.
void Spectator::PaceInner(std::int64_t gameMs, std::int64_t step) {
  if (!limits_.paced) return HostWrapper::Pace(gameMs);
  const bool catchingUp = why_.empty() && behind() > limits_.catchUpFrom;
  const auto now = Clock::now();
  const auto shown = std::chrono::duration_cast<std::chrono::microseconds>(now - lastShown_).count();
  if (catchingUp && shown < std::chrono::duration_cast<std::chrono::microseconds>(limits_.showEvery).count()) {
    skippedMs_ += step;
    return;
  }
  if (catchingUp) inner().Held(std::max<std::int64_t>(shown - step * 1000, 0));
  HostWrapper::Pace(gameMs - skippedMs_);
  lastShown_ = Clock::now();
}

// A pass's two hashes are compared once both are in; whichever comes first waits for the other.
void Spectator::Compare(std::int64_t pass, const std::string& hash, bool mine) {
  auto& other = mine ? hostHashes_ : myHashes_;
  const auto found = other.find(pass);
  if (found == other.end()) {
    auto& waiting = mine ? myHashes_ : hostHashes_;
    if (waiting.size() < kMaxHashes) waiting[pass] = hash;
    return;
  }
  const bool same = found->second == hash;
  other.erase(other.begin(), std::next(found));
  if (!same) End("the game watched differs from the players' at pass " + std::to_string(pass));
}

void Spectator::WaitFor(std::int64_t k) {
  const auto have = [&](const std::deque<std::string>& pending) {
    return taken_ + static_cast<std::int64_t>(pending.size()) >= k;
  };
  if (have(host_) && have(guest_)) return;
  const auto began = Clock::now();
  auto heard = began;
  for (;;) {
    const bool hostMissing = !have(host_);
    const bool guestMissing = !have(guest_);
    if (!why_.empty() || (!hostMissing && !guestMissing)) break;
    // Nothing more comes from a player who said goodbye, nor over a link that is gone.
    if (linkGone_ || (hostMissing && hostLeft_) || (guestMissing && guestLeft_)) return End(ending_);
    const auto silent = Since(heard);
    if (silent >= limits_.silenceEnds) return End("the players are silent");
    const std::size_t before = host_.size() + guest_.size();
    Take(std::max(limits_.silenceEnds - silent, std::chrono::milliseconds(1)));
    if (host_.size() + guest_.size() != before) heard = Clock::now();
  }
  // The time waited is not made good by shorter sleeps: the game follows the players' pace.
  inner().Held(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - began).count());
}

bool Spectator::Take(std::chrono::milliseconds timeout) {
  bool closed = false;
  const std::optional<std::string> message = link_.Receive(timeout, closed);
  if (closed) {
    linkGone_ = true;
    if (ending_.empty()) ending_ = "the connection to the server is lost";
  }
  if (message && !Receive(*message)) End("the server sent something that is not of this game");
  return message.has_value();
}

void Spectator::TakeInput(std::vector<InputEvent>& events) {
  if (pass_ == 0) {
    std::vector<InputEvent> early;  // what the spectator pressed before the first pass
    HostWrapper::TakeInput(early);
  }
  events.insert(events.end(), ready_.begin(), ready_.end());
  ready_.clear();
  if (!why_.empty() && !closeDelivered_) {
    closeDelivered_ = true;
    events.push_back(InputEvent{InputEvent::Kind::Close, 0});
  }
}

bool Spectator::Receive(const std::string& text) {
  const json message = json::parse(text, nullptr, false);
  if (message.is_object() && message.contains("bye")) {
    // The relay's last word: the room closed, or this spectator was let go.
    const json& why = message["bye"];
    linkGone_ = true;  // nothing comes after it
    if (ending_.empty())
      ending_ = why.is_string() && why.get<std::string>().size() <= kMaxWhy ? why.get<std::string>()
                                                                            : "the server ended the watching";
    return true;
  }
  if (!message.is_array()) return false;
  for (const json& entry : message) {
    if (!entry.is_object() || entry.size() != 1 || (!entry.contains("h") && !entry.contains("g"))) return false;
    const bool host = entry.contains("h");
    const json& m = entry.begin().value();
    if (!m.is_object()) return false;
    if (m.contains("start")) {
      if (!host || started_ || !ParseStart(m.dump(), limits_.maxDelay, start_)) return false;
      started_ = true;
      continue;
    }
    if (m.contains("bye")) {
      const json& why = m["bye"];
      const std::string said =
          why.is_string() && why.get<std::string>().size() <= kMaxWhy ? why.get<std::string>() : "";
      (host ? hostLeft_ : guestLeft_) = true;
      if (ending_.empty()) {
        ending_ = std::string(host ? "the host" : "the guest") +
                  (said.empty() || said == "the other player left" ? " left" : " ended the game: " + said);
      }
      continue;
    }
    const auto k = m.find("k");
    const auto e = m.find("e");
    std::deque<std::string>& pending = host ? host_ : guest_;
    if (!started_ || k == m.end() || e == m.end() || !k->is_number_integer() || !e->is_string()) return false;
    if (k->get<std::int64_t>() != taken_ + static_cast<std::int64_t>(pending.size()) + 1) return false;
    const std::string& input = e->get_ref<const std::string&>();
    std::vector<InputEvent> check;
    if (!DecodeInput(input, check)) return false;
    if (pending.size() >= limits_.maxPending || pendingBytes_ >= limits_.maxPendingBytes) {
      End("the game is too far ahead to follow");
      return true;
    }
    pending.push_back(input);
    pendingBytes_ += input.size();
    const auto h = m.find("h");
    if (stateHash_ && host && h != m.end() && h->is_string() && !h->get_ref<const std::string&>().empty() &&
        h->get_ref<const std::string&>().size() <= 64 && k->get<std::int64_t>() % kHashEvery == 0)
      Compare(k->get<std::int64_t>(), h->get<std::string>(), false);
  }
  return true;
}

void Spectator::End(const std::string& why) {
  if (!why_.empty()) return;
  why_ = why;
  if (started_) Tell("the watching ended: " + why);
}

LoadedFile Spectator::LoadFile(const std::string& name, std::size_t /*limit*/) {
  if (name == kHiScoreFileName) return start_.table;
  return LoadedFile{};
}

// The spectator keeps nothing: the table as the host saves it is what the game reads again.
bool Spectator::SaveFile(const std::string& name, std::string_view bytes, std::string& /*error*/) {
  if (name == kHiScoreFileName) start_.table = LoadedFile{LoadedFile::Status::Ok, std::string(bytes), {}};
  return true;
}

}  // namespace qr

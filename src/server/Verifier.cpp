#include "server/Verifier.hpp"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "game/app/frmRallex.hpp"
#include "game/scores/HiScoreRecord.hpp"
#include "hosts/headless/HeadlessHost.hpp"
#include "hosts/shared/HostWrapper.hpp"
#include "hosts/shared/RankedGame.hpp"
#include "hosts/shared/Script.hpp"

namespace qr {

namespace {

// After the last input, a game can still confirm an entry only within a pass or two (Enter is
// taken at the next pass); this much game time more is played before the replay gives up.
constexpr std::int64_t kAfterLastInputMs = 5000;

// Unwinds the game's loops when the replay has seen enough, or may not go on.
struct StopReplay {};

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// The "# format" and "# rules" lines say what the recording claims to be; the script reader
// takes an older format or a missing rules line as format 1 and rules 1, which a ranked game
// never is: the recorder of every host writes both.
bool CheckVersions(std::string_view text, std::string& why) {
  int formats = 0;
  int rules = 0;
  const std::string format = std::to_string(kRecordingFormat);
  const std::string rulesVersion = std::to_string(kRulesVersion);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::vector<std::string_view> w = Words(line);
    if (w.size() != 3 || w[0] != "#") continue;
    if (w[1] == "format") {
      if (w[2] != format) {
        why = "a recording of format " + Quoted(w[2]) + "; ranked games are of format " + format;
        return false;
      }
      ++formats;
    } else if (w[1] == "rules") {
      if (w[2] != rulesVersion) {
        why = "a recording of rules " + Quoted(w[2]) + "; ranked games are played under rules " + rulesVersion;
        return false;
      }
      ++rules;
    }
  }
  if (formats != 1 || rules != 1) {
    why = "the recording must say its format (" + format + ") and rules (" + rulesVersion + ") once each";
    return false;
  }
  return true;
}

// Watches the replayed game from the host's side. The initials entry is the only time the game
// takes typed text: when it ends, the game's state says whether three characters were confirmed
// (a timed-out entry leaves no initials; Esc or a lost focus asks the game to end), and whose
// entry and which scores it was. The first confirmed entry decides: the replay ends at the next
// sleep, so that later games of the same recording are never played (one submission, one game).
class Referee final : public HostWrapper {
 public:
  Referee(Host& inner, std::chrono::steady_clock::time_point deadline) : HostWrapper(inner), deadline_(deadline) {}

  void Watch(const frmRallex& game) { game_ = &game; }

  void Pace(std::int64_t gameMs) override {
    now_ = gameMs;
    Check();
    try {
      HostWrapper::Pace(gameMs);
    } catch (...) {
      stopping_ = true;  // the run's time is up: nothing seen while unwinding counts
      throw;
    }
  }
  void TakeInput(std::vector<InputEvent>& events) override {
    Check();
    HostWrapper::TakeInput(events);
  }
  void TextEntry(bool on) override {
    if (on || stopping_ || decided_ || game_ == nullptr) return;
    const std::optional<EntryOutcome> entry = ConfirmedEntry(*game_);
    if (!entry) return;
    verdict_.ok = true;
    verdict_.mode = entry->mode;
    verdict_.p1Score = entry->p1Score;
    verdict_.p2Score = entry->p2Score;
    verdict_.winner = entry->winner;
    verdict_.initials = entry->initials;
    verdict_.entryMs = now_;
    decided_ = true;
  }
  // The game's messages about its files are for a player, not for the server's log.
  void Tell(const std::string& /*message*/) override {}

  bool TimedOut() const { return timedOut_; }
  Verdict& verdict() { return verdict_; }

 private:
  // Only once the game runs (the machine takes input as it is built, outside any try).
  void Check() {
    if (stopping_ || game_ == nullptr) return;
    if (decided_) {
      stopping_ = true;
      throw StopReplay{};
    }
    if (std::chrono::steady_clock::now() > deadline_) {
      stopping_ = timedOut_ = true;
      throw StopReplay{};
    }
  }

  std::chrono::steady_clock::time_point deadline_;
  const frmRallex* game_ = nullptr;
  std::int64_t now_ = 0;
  bool decided_ = false;
  bool stopping_ = false;
  bool timedOut_ = false;
  Verdict verdict_;
};

Verdict Refused(std::string reason) {
  Verdict v;
  v.reason = std::move(reason);
  return v;
}

}  // namespace

Verdict VerifyRecording(std::string_view text, std::uint64_t expectedSeed, const VerifyLimits& limits) {
  const auto deadline = std::chrono::steady_clock::now() + limits.maxWall;
  if (text.size() > limits.maxBytes)
    return Refused("the recording is longer than " + std::to_string(limits.maxBytes) + " bytes");
  std::string why;
  if (!CheckVersions(text, why)) return Refused(why);
  std::string error;
  std::optional<Script> script = ParseScript(text, "recording", error);
  if (!script) return Refused(error);
  const RecordingHeader& header = script->header;
  if (!header.seed) return Refused("the recording has no seed");
  if (*header.seed != expectedSeed) return Refused("the recording's seed is not the one issued with the token");
  // Ranked games start from the default tables: the game found no table file. (Without any
  // file line the replay finds none either.)
  for (const auto& [name, file] : header.files) {
    if (name != kHiScoreFileName || file.status != LoadedFile::Status::Missing)
      return Refused("the recorded game did not start from the default high-score tables");
  }
  if (script->events.size() > limits.maxEvents)
    return Refused("more than " + std::to_string(limits.maxEvents) + " input events");
  const std::int64_t lastMs = script->events.empty() ? 0 : script->events.back().ms;
  if (lastMs > limits.maxGameMs)
    return Refused("the recording is longer than " + std::to_string(limits.maxGameMs / 60000) +
                   " minutes of game time");

  HeadlessOptions options;
  options.seed = *header.seed;
  options.script = std::move(script->events);
  options.files = header.files;
  options.loads = header.loads;
  options.runMs = std::min(limits.maxGameMs, lastMs + kAfterLastInputMs);
  HeadlessHost host(std::move(options));  // no data directory: nothing is read or written
  Referee referee(host, deadline);
  Machine machine(referee);
  frmRallex game(machine);
  referee.Watch(game);
  try {
    game.Form_Load();
  } catch (const StopReplay&) {
  } catch (const RunEnded&) {
  }
  if (referee.TimedOut()) return Refused("the replay took too long");
  Verdict verdict = std::move(referee.verdict());
  if (!verdict.ok) return Refused("no game of the recording reaches a confirmed initials entry");
  if (verdict.mode != 1 && verdict.mode != 2) return Refused("the entry was made outside a game");
  verdict.seed = expectedSeed;
  return verdict;
}

}  // namespace qr

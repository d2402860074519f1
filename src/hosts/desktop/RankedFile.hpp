#pragma once
// A ranked game as the desktop keeps it until it is sent: its recording, with the one-time token
// of its seed on a comment line of the header ("# ranked-token HEX"), in the data directory as
// ranked/<seed>.txt. Once the server has ranked it, the token line becomes "# ranked-run ID".
// The recording format passes over both lines, so the file still plays with --replay.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "hosts/shared/RankedGame.hpp"
#include "hosts/shared/Recorder.hpp"

namespace qr {

class frmRallex;

// The server takes recordings of up to 1 MiB.
constexpr std::size_t kMaxRankedRecording = 1024 * 1024;

struct RankedTicket {
  std::uint64_t seed = 0;
  std::string token;
};

// The file's text: the recording with the token line after its first line.
std::string RankedFileText(std::string_view recording, const std::string& token);

struct RankedFile {
  std::string recording;              // as it was recorded: the token line taken out
  std::string token;                  // empty once sent
  std::optional<std::int64_t> runId;  // the run it became, once sent
};

// Reads a kept ranked game's text. False with one sentence when it is not one: no token line
// (nor a run line), more than one, a token that is not hex, a recording too large for the server.
bool ParseRankedFile(std::string_view text, RankedFile& out, std::string& error);

// The text of a sent file: the token line replaced by "# ranked-run ID".
std::string SentRankedFileText(std::string_view text, std::int64_t runId);

// Whether text is an address a client may ask: http:// or https:// and a host.
bool IsServerAddress(const std::string& text);

// The ranked game on its seed, under a recorder: Recorder(RankedGame(inner)). The first entry
// confirmed with three initials keeps the recording so far (marked where its game began, as the
// page keeps it), with the token, as <dataDir>/ranked/<seed>.txt: one token, one submission.
// Later entries are not ranked.
class RankedSession {
 public:
  // dataDir: where ranked/ is made; out: the --record file, or nullptr.
  RankedSession(Host& inner, RankedTicket ticket, std::string dataDir, RecordingSink* out);
  RankedSession(const RankedSession&) = delete;
  RankedSession& operator=(const RankedSession&) = delete;

  // The host the machine runs on.
  Recorder& Outer() { return recorder_; }
  // The game whose entries are followed; set before it starts.
  void Follow(const frmRallex& game) { game_ = &game; }
  // Called on the game's thread once the ranked game is kept (its path), with what it came to.
  void OnKept(std::function<void(const std::string&, const EntryOutcome&)> kept) { kept_ = std::move(kept); }
  // The kept file's path; empty while none is kept.
  const std::string& KeptPath() const { return keptPath_; }

 private:
  void EntryEnded();

  RankedGame ranked_;
  Recorder recorder_;
  RankedTicket ticket_;
  std::string dataDir_;
  const frmRallex* game_ = nullptr;
  bool done_ = false;
  std::string keptPath_;
  std::function<void(const std::string&, const EntryOutcome&)> kept_;
};

}  // namespace qr

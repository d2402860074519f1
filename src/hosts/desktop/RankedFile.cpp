#include "hosts/desktop/RankedFile.hpp"

#include <charconv>

#include "hosts/desktop/Files.hpp"

namespace qr {

namespace {

constexpr std::string_view kTokenLine = "# ranked-token ";
constexpr std::string_view kRunLine = "# ranked-run ";

bool IsHex(std::string_view s) {
  if (s.empty() || s.size() > 256) return false;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// The lines of the header (the comments before the first event), each with its end.
struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;    // after its '\n'
  std::string_view text;  // without "\r\n"
};

template <typename Fn>
void ForHeaderLines(std::string_view text, Fn fn) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t nl = text.find('\n', at);
    const std::size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
    std::string_view line = text.substr(at, (nl == std::string_view::npos ? text.size() : nl) - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && line[0] != '#') return;
    if (!fn(Line{at, end, line})) return;
    at = end;
  }
}

}  // namespace

std::string RankedFileText(std::string_view recording, const std::string& token) {
  const std::size_t nl = recording.find('\n');
  const std::size_t at = nl == std::string_view::npos ? recording.size() : nl + 1;
  std::string text(recording.substr(0, at));
  if (nl == std::string_view::npos) text += '\n';
  text += std::string(kTokenLine) + token + "\n";
  text += recording.substr(at);
  return text;
}

bool ParseRankedFile(std::string_view text, RankedFile& out, std::string& error) {
  int lines = 0;
  Line found;
  ForHeaderLines(text, [&](const Line& l) {
    if (l.text.starts_with(kTokenLine) || l.text.starts_with(kRunLine)) {
      ++lines;
      found = l;
    }
    return true;
  });
  if (lines == 0) {
    error = "it is not a ranked game (only games played with --online are, and they carry their token)";
    return false;
  }
  if (lines > 1) {
    error = "it has more than one ranked-token or ranked-run line";
    return false;
  }
  out = RankedFile{};
  if (found.text.starts_with(kRunLine)) {
    const std::string_view id = found.text.substr(kRunLine.size());
    std::int64_t run = 0;
    auto [ptr, ec] = std::from_chars(id.data(), id.data() + id.size(), run);
    if (ec != std::errc() || ptr != id.data() + id.size()) {
      error = "its ranked-run line is damaged";
      return false;
    }
    out.runId = run;
  } else {
    out.token = std::string(found.text.substr(kTokenLine.size()));
    if (!IsHex(out.token)) {
      error = "its ranked-token line is damaged";
      return false;
    }
  }
  out.recording = std::string(text.substr(0, found.begin)) + std::string(text.substr(found.end));
  if (out.recording.size() > kMaxRankedRecording) {
    error = "the recording is larger than the server takes (1 MiB)";
    return false;
  }
  return true;
}

std::string SentRankedFileText(std::string_view text, std::int64_t runId) {
  std::string out(text);
  ForHeaderLines(text, [&](const Line& l) {
    if (!l.text.starts_with(kTokenLine)) return true;
    out = std::string(text.substr(0, l.begin)) + std::string(kRunLine) + std::to_string(runId) + "\n" +
          std::string(text.substr(l.end));
    return false;
  });
  return out;
}

bool IsServerAddress(const std::string& text) {
  for (std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
    if (text.size() > scheme.size() && text.starts_with(scheme) && text[scheme.size()] != '/') return true;
  }
  return false;
}

RankedSession::RankedSession(Host& inner, RankedTicket ticket, std::string dataDir, RecordingSink* out)
    : ranked_(inner, ticket.seed), recorder_(ranked_, out), ticket_(std::move(ticket)), dataDir_(std::move(dataDir)) {
  ranked_.OnEntryEnded([this] { EntryEnded(); });
}

void RankedSession::EntryEnded() {
  if (done_ || game_ == nullptr) return;
  const std::optional<EntryOutcome> entry = ConfirmedEntry(*game_);
  if (!entry) return;
  done_ = true;  // one token, one submission: only the first confirmed entry is ranked
  if (dataDir_.empty()) {
    recorder_.Tell("no data directory to keep the ranked game in (give --data-dir)");
    return;
  }
#if defined(_WIN32)
  const char separator = '\\';
#else
  const char separator = '/';
#endif
  std::string dir = dataDir_;
  if (dir.back() != '/' && dir.back() != '\\') dir += separator;
  dir += "ranked";
  const std::string path = dir + separator + std::to_string(ticket_.seed) + ".txt";
  std::string error;
  if (!CreateDirectories(dir, error) ||
      !WriteFileAtomically(path, RankedFileText(recorder_.Recording(entry->gameStartMs), ticket_.token), error)) {
    recorder_.Tell("cannot keep the ranked game as " + path + ": " + error);
    return;
  }
  keptPath_ = path;
  if (kept_) kept_(path, *entry);
}

}  // namespace qr

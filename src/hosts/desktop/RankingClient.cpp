#include "hosts/desktop/RankingClient.hpp"

#include <curl/curl.h>

#include <limits>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "hosts/desktop/Files.hpp"
#include "hosts/desktop/RankedFile.hpp"
#include "hosts/shared/Script.hpp"

namespace qr {

namespace {

using nlohmann::json;

struct Received {
  std::string body;
  std::size_t limit = 0;
  bool tooLarge = false;
};

std::size_t Take(char* data, std::size_t size, std::size_t count, void* user) {
  auto* r = static_cast<Received*>(user);
  const std::size_t n = size * count;
  if (r->body.size() + n > r->limit) {
    r->tooLarge = true;
    return 0;  // ends the transfer with CURLE_WRITE_ERROR
  }
  r->body.append(data, n);
  return n;
}

// The server's reason, when its answer is {"error": "..."}: cut short and printable.
std::string Reason(const std::string& answer) {
  const json j = json::parse(answer, nullptr, false);
  if (!j.is_object()) return {};
  const auto e = j.find("error");
  if (e == j.end() || !e->is_string()) return {};
  std::string reason = e->get<std::string>();
  if (reason.size() > 200) reason = reason.substr(0, 200) + "...";
  return Printable(reason);
}

template <typename T>
bool Field(const json& j, const char* name, T& out) {
  const auto f = j.find(name);
  if (f == j.end()) return false;
  if constexpr (std::is_same_v<T, std::string>) {
    if (!f->is_string()) return false;
    out = f->get<std::string>();
  } else {
    if (!f->is_number_integer()) return false;
    if (f->is_number_unsigned()) {
      const auto u = f->get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) return false;
      out = static_cast<T>(u);
    } else {
      const auto s = f->get<std::int64_t>();
      if (s < 0 && !std::is_signed_v<T>) return false;
      if (s < static_cast<std::int64_t>(std::numeric_limits<T>::min()) ||
          static_cast<std::uint64_t>(s) > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
        return false;
      out = static_cast<T>(s);
    }
  }
  return true;
}

bool TokenLooksRight(const std::string& token) {
  if (token.empty() || token.size() > 256) return false;
  for (char c : token) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

}  // namespace

void StartNetwork() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

RankingClient::RankingClient(std::string server, ClientLimits limits) : server_(std::move(server)), limits_(limits) {
  while (!server_.empty() && server_.back() == '/') server_.pop_back();
  StartNetwork();
}

ClientResult RankingClient::Post(const std::string& path, const std::string& body, long& status, std::string& answer,
                                 std::string& error) const {
  const std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    error = "the network library cannot start";
    return ClientResult::Failed;
  }
  const std::string url = server_ + path;
  Received received;
  received.limit = limits_.maxAnswer;
  char curlError[CURL_ERROR_SIZE] = {};
  struct curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  const std::unique_ptr<curl_slist, void (*)(curl_slist*)> headersHeld(headers, curl_slist_free_all);
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, limits_.connectMs);
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, limits_.totalMs);
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits_.maxAnswer));
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, curlError);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "quillmarsh-rall/" QR_VERSION);
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(c, CURLOPT_POST, 1L);
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Take);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &received);
  const CURLcode code = curl_easy_perform(c);
  if (received.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
    error = "the answer of " + Printable(server_) + " is larger than " + std::to_string(limits_.maxAnswer) + " bytes";
    return ClientResult::Failed;
  }
  if (code != CURLE_OK) {
    error = "cannot reach " + Printable(server_) + ": " +
            std::string(curlError[0] != 0 ? curlError : curl_easy_strerror(code));
    return ClientResult::Failed;
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  answer = std::move(received.body);
  return ClientResult::Ok;
}

ClientResult RankingClient::RequestSeed(IssuedSeed& out, std::string& error) const {
  long status = 0;
  std::string answer;
  if (const ClientResult r = Post("/api/seeds", "", status, answer, error); r != ClientResult::Ok) return r;
  if (status != 201 && status != 200) {
    const std::string reason = Reason(answer);
    error = Printable(server_) +
            " gives no seed: " + (reason.empty() ? "it answered HTTP " + std::to_string(status) : reason);
    return ClientResult::Refused;
  }
  const json j = json::parse(answer, nullptr, false);
  if (!j.is_object() || !Field(j, "token", out.token) || !Field(j, "seed", out.seed) ||
      !Field(j, "expires", out.expires) || !TokenLooksRight(out.token)) {
    error = Printable(server_) + " answered with something other than a seed (is it a rankings server?)";
    return ClientResult::Refused;
  }
  return ClientResult::Ok;
}

ClientResult RankingClient::Submit(const std::string& token, const std::string& recording, RankedRun& out,
                                   std::string& error) const {
  long status = 0;
  std::string answer;
  const std::string body =
      json{{"token", token}, {"recording", recording}}.dump(-1, ' ', false, json::error_handler_t::replace);
  if (const ClientResult r = Post("/api/runs", body, status, answer, error); r != ClientResult::Ok) return r;
  if (status != 201 && status != 200) {
    const std::string reason = Reason(answer);
    error = "the server refused the game: " + (reason.empty() ? "HTTP " + std::to_string(status) : reason);
    return ClientResult::Refused;
  }
  const json j = json::parse(answer, nullptr, false);
  if (!j.is_object() || !Field(j, "id", out.id) || !Field(j, "mode", out.mode) || !Field(j, "p1Score", out.p1Score) ||
      !Field(j, "p2Score", out.p2Score) || !Field(j, "winner", out.winner) || !Field(j, "initials", out.initials) ||
      !Field(j, "place", out.place)) {
    error = "the server took the game but its answer is not a ranked run";
    return ClientResult::Refused;
  }
  out.initials = Printable(out.initials.substr(0, 3));
  return ClientResult::Ok;
}

Submission SubmitRankedFile(const std::string& path, const std::string& server, ClientLimits limits) {
  const std::string name = Printable(path);
  const LoadedFile file = ReadDataFile(path, kMaxRankedRecording + 4096);
  if (file.status != LoadedFile::Status::Ok) {
    return {2, "cannot read " + name + ": " +
                   (file.status == LoadedFile::Status::Missing ? std::string("no such file")
                    : file.reason.empty()                      ? std::string("unreadable")
                                                               : file.reason)};
  }
  RankedFile ranked;
  std::string error;
  if (!ParseRankedFile(file.bytes, ranked, error)) return {2, "cannot send " + name + ": " + error};
  if (ranked.runId) {
    return {1, name + " was sent already and ranked as run " + std::to_string(*ranked.runId) + "; nothing sent"};
  }
  RankedRun run;
  const RankingClient client(server, limits);
  if (client.Submit(ranked.token, ranked.recording, run, error) != ClientResult::Ok) {
    return {1, "not ranked: " + error + " (" + name + " is kept)"};
  }
  std::string line = "ranked: place " + std::to_string(run.place) + " of the " +
                     (run.mode == 2 ? "two-player" : "one-player") + " games, " +
                     (run.mode == 2 ? std::to_string(run.p1Score) + ":" + std::to_string(run.p2Score) + ", player " +
                                          std::to_string(run.winner)
                                    : std::to_string(run.p1Score) + " points") +
                     ", initials " + run.initials + " (run " + std::to_string(run.id) + ")";
  // The token is spent: the file keeps the game, with the run it became instead.
  if (!WriteFileAtomically(path, SentRankedFileText(file.bytes, run.id), error)) {
    line += "; " + name + " cannot be marked as sent (" + error + "), do not send it again";
  }
  return {0, line};
}

}  // namespace qr

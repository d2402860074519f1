#include "server/Api.hpp"

#include <sys/random.h>

#include <cerrno>
#include <ctime>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "server/Site.hpp"

namespace qr {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxTokenLength = 128;
constexpr std::uintmax_t kMaxSiteFile = 64 * 1024 * 1024;

std::int64_t UnixNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

Response JsonResponse(int status, const json& body) {
  Response r;
  r.status = status;
  r.body = body.dump(-1, ' ', false, json::error_handler_t::replace);
  return r;
}

json RunJson(const Run& run) {
  return json{
      {"id", run.id},         {"mode", run.mode},        {"p1Score", run.p1Score},      {"p2Score", run.p2Score},
      {"winner", run.winner}, {"score", RankScore(run)}, {"initials", run.initials},    {"place", run.place},
      {"seed", run.seed},     {"gameMs", run.gameMs},    {"submitted", run.submittedAt}};
}

// A whole number of at most 9 digits, nothing else.
std::optional<std::int64_t> SmallNumber(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// "a=1&b=2" into its pairs; false for a name given twice.
bool QueryPairs(std::string_view query, std::map<std::string, std::string>& pairs) {
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    const std::string name(pair.substr(0, eq));
    const std::string value(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1));
    if (!pairs.emplace(name, value).second) return false;
  }
  return true;
}

std::string Hex(const unsigned char* bytes, std::size_t size) {
  static const char* const digits = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

}  // namespace

void RandomBytes(void* out, std::size_t size) {
  auto* p = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t got = getrandom(p, size, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("no random source");
    }
    p += got;
    size -= static_cast<std::size_t>(got);
  }
}

Response ErrorResponse(int status, const std::string& reason) { return JsonResponse(status, json{{"error", reason}}); }

bool RateLimiter::Allow(const std::string& client, std::chrono::steady_clock::time_point now) {
  std::lock_guard lock(mutex_);
  // Past its bound, the table forgets everybody: a flood of addresses costs memory, not refusals.
  if (buckets_.size() >= maxClients_ && buckets_.count(client) == 0) buckets_.clear();
  auto [it, fresh] = buckets_.try_emplace(client);
  Bucket& b = it->second;
  if (fresh) {
    b.tokens = perMinute_;
    b.last = now;
  }
  const double minutes = std::chrono::duration<double>(now - b.last).count() / 60.0;
  b.tokens = std::min<double>(perMinute_, b.tokens + minutes * perMinute_);
  b.last = now;
  if (b.tokens < 1) return false;
  b.tokens -= 1;
  return true;
}

Api::Api(Store& store, WorkPool& pool, ApiConfig config)
    : store_(store), pool_(pool), config_(std::move(config)), posts_(config_.postsPerMinute) {}

void Api::Handle(const Request& request, Reply reply) {
  try {
    const std::string& target = request.target;
    const std::size_t q = target.find('?');
    const std::string path = target.substr(0, q);
    const std::string query = q == std::string::npos ? std::string() : target.substr(q + 1);
    const bool get = request.method == "GET";
    const bool post = request.method == "POST";
    if (path.rfind("/api/", 0) != 0) {
      if (!get) return reply(ErrorResponse(405, "method not allowed"));
      return reply(SiteFile(request));
    }
    if (post && !posts_.Allow(request.client, std::chrono::steady_clock::now())) {
      Response r = ErrorResponse(429, "too many submissions, retry later");
      r.headers.emplace_back("Retry-After", "10");
      return reply(std::move(r));
    }
    if (path == "/api/health") {
      if (!get) return reply(ErrorResponse(405, "method not allowed"));
      if (!store_.Healthy()) return reply(ErrorResponse(503, "the database does not answer"));
      return reply(JsonResponse(200, json{{"ok", true}}));
    }
    if (path == "/api/seeds") {
      if (!post) return reply(ErrorResponse(405, "method not allowed"));
      return reply(IssueSeed());
    }
    if (path == "/api/runs") {
      if (!post) return reply(ErrorResponse(405, "method not allowed"));
      return SubmitRun(request, reply);
    }
    if (path == "/api/rankings") {
      if (!get) return reply(ErrorResponse(405, "method not allowed"));
      return reply(Rankings(query));
    }
    const std::string runs = "/api/runs/";
    if (path.rfind(runs, 0) == 0) {
      if (!get) return reply(ErrorResponse(405, "method not allowed"));
      std::string rest = path.substr(runs.size());
      const bool recording = rest.size() > 10 && rest.compare(rest.size() - 10, 10, "/recording") == 0;
      if (recording) rest.resize(rest.size() - 10);
      const std::optional<std::int64_t> id = SmallNumber(rest);
      if (!id) return reply(ErrorResponse(404, "no such run"));
      return reply(recording ? RunRecording(*id) : RunDetails(*id));
    }
    return reply(ErrorResponse(404, "no such API"));
  } catch (const StoreError&) {
    return reply(ErrorResponse(500, "the database failed"));
  } catch (const std::exception&) {
    return reply(ErrorResponse(500, "internal error"));
  }
}

Response Api::IssueSeed() {
  unsigned char raw[32];
  RandomBytes(raw, sizeof raw);
  std::uint64_t seed = 0;
  RandomBytes(&seed, sizeof seed);
  // 53 bits: a page's JavaScript reads every seed exactly.
  seed &= (std::uint64_t{1} << 53) - 1;
  IssuedToken t;
  t.token = Hex(raw, sizeof raw);
  t.seed = seed;
  t.issuedAt = UnixNow();
  t.expiresAt = t.issuedAt + config_.tokenLifetimeS;
  store_.AddToken(t);
  return JsonResponse(201, json{{"token", t.token}, {"seed", t.seed}, {"expires", t.expiresAt}});
}

void Api::SubmitRun(const Request& request, Reply& reply) {
  const std::string type = request.contentType.substr(0, request.contentType.find(';'));
  if (type != "application/json") return reply(ErrorResponse(415, "the body must be application/json"));
  if (request.body.size() > config_.maxBody) return reply(ErrorResponse(413, "the body is too large"));
  const json body = json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) return reply(ErrorResponse(400, "the body is not a JSON object"));
  const auto token = body.find("token");
  const auto recording = body.find("recording");
  if (token == body.end() || !token->is_string() || recording == body.end() || !recording->is_string())
    return reply(ErrorResponse(400, "the body needs a token and a recording, both strings"));
  std::string tokenText = token->get<std::string>();
  if (tokenText.empty() || tokenText.size() > kMaxTokenLength) return reply(ErrorResponse(403, "unknown token"));
  std::string text = recording->get<std::string>();
  // Taken by a verifying thread, or refused at once while every thread and the queue are busy:
  // the token is then left as it was, for the retry.
  auto job = [this, reply, tokenText = std::move(tokenText), text = std::move(text)]() {
    try {
      // The token is spent by this submission whatever its fate: otherwise one seed would allow
      // any number of attempts, each recording tried against the verifier until one passed,
      // and a ranked game would no longer be a game played once on a seed nobody knew before.
      std::uint64_t seed = 0;
      switch (store_.TakeToken(tokenText, UnixNow(), seed)) {
        case TokenUse::Unknown:
          return reply(ErrorResponse(403, "unknown token"));
        case TokenUse::Used:
          return reply(ErrorResponse(409, "the token has been used"));
        case TokenUse::Expired:
          return reply(ErrorResponse(410, "the token has expired"));
        case TokenUse::Taken:
          break;
      }
      const Verdict verdict = VerifyRecording(text, seed, config_.limits);
      if (!verdict.ok) return reply(ErrorResponse(422, verdict.reason));
      Run run;
      run.seed = verdict.seed;
      run.mode = verdict.mode;
      run.p1Score = verdict.p1Score;
      run.p2Score = verdict.p2Score;
      run.winner = verdict.winner;
      run.initials = verdict.initials;
      run.gameMs = verdict.entryMs;
      run.submittedAt = UnixNow();
      if (store_.AddRun(run, text) == AddResult::Duplicate)
        return reply(ErrorResponse(409, "this game is ranked already"));
      return reply(JsonResponse(201, RunJson(run)));
    } catch (const StoreError&) {
      return reply(ErrorResponse(500, "the database failed"));
    } catch (const std::exception&) {
      return reply(ErrorResponse(500, "internal error"));
    }
  };
  if (!pool_.TrySubmit(std::move(job))) {
    Response r = ErrorResponse(503, "busy, retry later");
    r.headers.emplace_back("Retry-After", "5");
    return reply(std::move(r));
  }
}

Response Api::Rankings(const std::string& query) {
  std::map<std::string, std::string> pairs;
  if (!QueryPairs(query, pairs)) return ErrorResponse(400, "a parameter given twice");
  std::int64_t mode = 0;
  std::int64_t offset = 0;
  std::int64_t limit = 20;
  if (auto it = pairs.find("mode"); it != pairs.end()) mode = SmallNumber(it->second).value_or(0);
  if (mode != 1 && mode != 2) return ErrorResponse(400, "mode must be 1 or 2");
  if (auto it = pairs.find("offset"); it != pairs.end()) {
    const auto value = SmallNumber(it->second);
    if (!value) return ErrorResponse(400, "offset must be a whole number below 10^9");
    offset = *value;
  }
  if (auto it = pairs.find("limit"); it != pairs.end()) {
    const auto value = SmallNumber(it->second);
    if (!value || *value < 1 || *value > 100) return ErrorResponse(400, "limit must be 1 to 100");
    limit = *value;
  }
  json runs = json::array();
  for (const Run& run : store_.Rankings(static_cast<int>(mode), offset, limit)) runs.push_back(RunJson(run));
  return JsonResponse(200, json{{"mode", mode}, {"offset", offset}, {"runs", runs}});
}

Response Api::RunDetails(std::int64_t id) {
  const std::optional<Run> run = store_.FindRun(id);
  if (!run) return ErrorResponse(404, "no such run");
  return JsonResponse(200, RunJson(*run));
}

Response Api::RunRecording(std::int64_t id) {
  std::optional<std::string> text = store_.Recording(id);
  if (!text) return ErrorResponse(404, "no such run");
  Response r;
  r.contentType = "text/plain; charset=utf-8";
  r.body = std::move(*text);
  return r;
}

Response Api::SiteFile(const Request& request) {
  if (!config_.site) return ErrorResponse(404, "not found");
  const qr::SiteFile file = ResolveSiteFile(*config_.site, request.target);
  if (file.status == 400) return ErrorResponse(400, "malformed path");
  if (file.status != 200) return ErrorResponse(404, "not found");
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file.path, ec);
  if (ec || size > kMaxSiteFile) return ErrorResponse(404, "not found");
  std::ifstream in(file.path, std::ios::binary);
  Response r;
  r.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return ErrorResponse(500, "cannot read the file");
  r.contentType = file.contentType;
  // The page's service worker revalidates every file; never a stale build.
  r.headers.emplace_back("Cache-Control", "no-cache");
  return r;
}

}  // namespace qr

// quillmarsh-rall-server: the online rankings. Every submitted game is played again from its
// recording, headless, and ranked by what the replay shows.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "server/Api.hpp"
#include "server/HttpServer.hpp"
#include "server/Store.hpp"
#include "server/WorkPool.hpp"

namespace {

constexpr const char* kHelp = R"(Usage: quillmarsh-rall-server [OPTION...]
The rankings server of Quillmarsh Rall: hands out seeds, plays every submitted recording again
headless and ranks the games whose players entered their initials; serves the page's files.

  --listen ADDR:PORT        where to listen (127.0.0.1:8080; [::1]:8080; :8080 for every address)
  --data-dir DIR            the database's folder (created; default: $STATE_DIRECTORY, or
                            ./quillmarsh-rall-server-data)
  --database URL            a PostgreSQL database instead (postgresql://USER@HOST/DB?...), which
                            several servers may share; the password is best kept in ~/.pgpass
  --site DIR                the page's files (the web build's site folder); none by default
  --threads N               verifying threads (the number of cores)
  --queue N                 submissions that may wait for a thread (16); more are told to retry
  --token-lifetime SECONDS  how long a seed may be played before it is submitted (7200)
  --posts-per-minute N      POSTs allowed per client address and minute (30)
  --verify-seconds N        the wall-clock time one verification may take (20)
  --header-timeout SECONDS  for a request's headers to arrive (10)
  --body-timeout SECONDS    for its body to arrive (30)
  --relay-rate N            messages a second a player of a game with a friend may send (400)
  --relay-delay MS[:JITTER] for tests: every relayed message waits MS milliseconds, give or take
                            JITTER (0)
  --help                    this text

Every option may also be set in the environment: QR_SERVER_LISTEN, QR_SERVER_DATA_DIR,
QR_SERVER_DATABASE, QR_SERVER_SITE, QR_SERVER_THREADS, QR_SERVER_QUEUE, QR_SERVER_TOKEN_LIFETIME,
QR_SERVER_POSTS_PER_MINUTE, QR_SERVER_VERIFY_SECONDS, QR_SERVER_HEADER_TIMEOUT,
QR_SERVER_BODY_TIMEOUT, QR_SERVER_RELAY_RATE, QR_SERVER_RELAY_DELAY; the command line wins. One line per request goes to stderr. SIGTERM or
SIGINT stops it after the verifications in flight.
)";

int Fail(const std::string& message) {
  std::fprintf(stderr, "quillmarsh-rall-server: %s\n", message.c_str());
  return 2;
}

// A whole number from 1 (or 0 when allowed) to max; false otherwise.
bool Number(const std::string& text, long long min, long long max, long long& out) {
  if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::stoll(text);
  return out >= min && out <= max;
}

}  // namespace

int main(int argc, char** argv) {
  const std::map<std::string, std::string> options = {
      {"--listen", "QR_SERVER_LISTEN"},
      {"--data-dir", "QR_SERVER_DATA_DIR"},
      {"--database", "QR_SERVER_DATABASE"},
      {"--site", "QR_SERVER_SITE"},
      {"--threads", "QR_SERVER_THREADS"},
      {"--queue", "QR_SERVER_QUEUE"},
      {"--token-lifetime", "QR_SERVER_TOKEN_LIFETIME"},
      {"--posts-per-minute", "QR_SERVER_POSTS_PER_MINUTE"},
      {"--verify-seconds", "QR_SERVER_VERIFY_SECONDS"},
      {"--header-timeout", "QR_SERVER_HEADER_TIMEOUT"},
      {"--body-timeout", "QR_SERVER_BODY_TIMEOUT"},
      {"--relay-rate", "QR_SERVER_RELAY_RATE"},
      {"--relay-delay", "QR_SERVER_RELAY_DELAY"},
  };
  std::map<std::string, std::string> values;
  for (const auto& [flag, env] : options) {
    if (const char* v = std::getenv(env.c_str()); v != nullptr && *v != '\0') values[flag] = v;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (options.count(arg) == 0) return Fail("unknown option '" + arg + "' (see --help)");
    if (i + 1 >= argc) return Fail(arg + " needs a value");
    values[arg] = argv[++i];
  }

  qr::HttpConfig http;
  qr::ApiConfig api;
  long long threads = std::max(1u, std::thread::hardware_concurrency());
  long long queue = 16;
  long long n = 0;
  if (values.count("--listen") && !qr::ParseListen(values["--listen"], http))
    return Fail("--listen takes ADDRESS:PORT, not '" + values["--listen"] + "'");
  auto number = [&](const char* flag, long long min, long long max, long long& out) {
    if (values.count(flag) == 0) return true;
    if (Number(values[flag], min, max, out)) return true;
    Fail(std::string(flag) + " takes a number from " + std::to_string(min) + " to " + std::to_string(max));
    return false;
  };
  if (!number("--threads", 1, 256, threads) || !number("--queue", 0, 100000, queue)) return 2;
  n = api.tokenLifetimeS;
  if (!number("--token-lifetime", 10, 30 * 24 * 3600, n)) return 2;
  api.tokenLifetimeS = n;
  n = api.postsPerMinute;
  if (!number("--posts-per-minute", 1, 100000, n)) return 2;
  api.postsPerMinute = static_cast<int>(n);
  n = api.limits.maxWall.count() / 1000;
  if (!number("--verify-seconds", 1, 3600, n)) return 2;
  api.limits.maxWall = std::chrono::seconds(n);
  n = http.headerTimeout.count();
  if (!number("--header-timeout", 1, 3600, n)) return 2;
  http.headerTimeout = std::chrono::seconds(n);
  n = http.bodyTimeout.count();
  if (!number("--body-timeout", 1, 3600, n)) return 2;
  http.bodyTimeout = std::chrono::seconds(n);

  n = static_cast<long long>(http.relay.perSecond);
  if (!number("--relay-rate", 1, 100000, n)) return 2;
  http.relay.perSecond = static_cast<double>(n);
  if (values.count("--relay-delay")) {
    const std::string text = values["--relay-delay"];
    const std::size_t colon = text.find(':');
    long long delay = 0;
    long long jitter = 0;
    if (!Number(text.substr(0, colon), 0, 10000, delay) ||
        (colon != std::string::npos && !Number(text.substr(colon + 1), 0, delay, jitter)))
      return Fail("--relay-delay takes MS or MS:JITTER, a jitter no larger than the delay");
    http.relay.delay = std::chrono::milliseconds(delay);
    http.relay.jitter = std::chrono::milliseconds(jitter);
  }
  if (values.count("--site")) {
    std::error_code ec;
    const auto site = std::filesystem::canonical(values["--site"], ec);
    if (ec || !std::filesystem::is_directory(site)) return Fail("--site: no folder '" + values["--site"] + "'");
    api.site = site;
  }
  const std::string database = values.count("--database") ? values["--database"] : std::string();
  if (!database.empty() && database.rfind("postgresql://", 0) != 0 && database.rfind("postgres://", 0) != 0)
    return Fail("--database takes a postgresql:// URL");
  std::string dataDir = "quillmarsh-rall-server-data";
  if (const char* state = std::getenv("STATE_DIRECTORY"); state != nullptr && *state != '\0') dataDir = state;
  if (values.count("--data-dir")) dataDir = values["--data-dir"];
  if (database.empty() && ::mkdir(dataDir.c_str(), 0700) != 0 && !std::filesystem::is_directory(dataDir))
    return Fail("cannot create the data folder '" + dataDir + "'");

  std::unique_ptr<qr::Store> store;
  try {
    store = database.empty() ? qr::OpenSqliteStore((std::filesystem::path(dataDir) / "rankings.sqlite3").string())
                             : qr::OpenPostgresStore(database);
  } catch (const qr::StoreError& e) {
    std::fprintf(stderr, "quillmarsh-rall-server: the database: %s\n", e.what.c_str());
    return 1;
  }
  qr::WorkPool pool(static_cast<std::size_t>(threads), static_cast<std::size_t>(queue));
  qr::Api server(*store, pool, api);
  const int code = qr::ServeHttp(server, http, [&pool] { pool.Drain(); });
  pool.Drain();
  store.reset();  // closes the database
  return code;
}

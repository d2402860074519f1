// The rankings server without sockets: the verifier replays what it ranks and refuses what it
// cannot trust, the store keeps runs in order, the API answers every request with the right
// status, and the site's folder gives away nothing outside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "PgCluster.hpp"
#include "TempDir.hpp"
#include "WonGame.hpp"
#include "server/Api.hpp"
#include "server/Relay.hpp"
#include "server/Site.hpp"
#include "server/Store.hpp"
#include "server/Verifier.hpp"

namespace qr {

namespace {

using nlohmann::json;

constexpr std::uint64_t kSeed = 1;

const WonGame& Won() {
  static const WonGame won = RecordWonGame(kSeed);
  return won;
}

// The text with its first `what` replaced by `with`.
std::string Replace(std::string text, const std::string& what, const std::string& with) {
  if (const auto at = text.find(what); at != std::string::npos) text.replace(at, what.size(), with);
  return text;
}

// The recording with its first event line of that action ("tap Enter") replaced by what `with`
// makes of the line's time.
std::string EditEvent(const std::string& text, const std::string& action,
                      const std::function<std::string(const std::string&)>& with) {
  std::istringstream in(text);
  std::string out;
  bool done = false;
  for (std::string line; std::getline(in, line);) {
    const auto space = line.find(' ');
    if (!done && space != std::string::npos && line.substr(space + 1) == action) {
      out += with(line.substr(0, space));
      done = true;
    } else {
      out += line + "\n";
    }
  }
  return out;
}

}  // namespace

TEST(Verifier, RanksWhatTheReplayShows) {
  const WonGame& won = Won();
  ASSERT_FALSE(won.asked.empty()) << "the scripted game never reached the initials entry";
  EXPECT_NE(won.recording.find("# file QuillmarshRall.dat missing"), std::string::npos);
  const Verdict v = VerifyRecording(won.recording, kSeed, VerifyLimits{});
  ASSERT_TRUE(v.ok) << v.reason;
  EXPECT_EQ(v.mode, 2);
  EXPECT_EQ(v.p1Score, won.p1Score);
  EXPECT_EQ(v.p2Score, won.p2Score);
  EXPECT_EQ(v.winner, won.asked.rfind("Player 2", 0) == 0 ? 2 : 1);
  EXPECT_EQ(v.winner, won.p1Score > won.p2Score ? 1 : 2);
  EXPECT_EQ(v.initials, "ABC");
  EXPECT_GT(v.entryMs, 2000);

  // The first confirmed entry decides; another seed plays another game, found by its replay.
  const WonGame other = RecordWonGame(77, "Z9Q");
  const Verdict w = VerifyRecording(other.recording, 77, VerifyLimits{});
  ASSERT_TRUE(w.ok) << w.reason;
  EXPECT_EQ(w.initials, "Z9Q");
  EXPECT_EQ(w.p1Score, other.p1Score);
  EXPECT_EQ(w.p2Score, other.p2Score);
}

TEST(Verifier, RefusesWhatItCannotTrust) {
  const std::string& rec = Won().recording;
  auto refused = [](const std::string& text, std::uint64_t seed = kSeed, VerifyLimits limits = {}) {
    const Verdict v = VerifyRecording(text, seed, limits);
    EXPECT_FALSE(v.ok);
    EXPECT_FALSE(v.reason.empty());
    return v.reason;
  };
  // A seed other than the one issued, in the request or in the recording.
  EXPECT_NE(refused(rec, 2).find("seed"), std::string::npos);
  EXPECT_NE(refused(Replace(rec, "# seed 1\n", "# seed 2\n")).find("seed"), std::string::npos);
  refused(Replace(rec, "# seed 1\n", ""));
  // Another format or rules, or none said.
  refused(Replace(rec, "# rules 1\n", "# rules 2\n"));
  refused(Replace(rec, "# format 2\n", "# format 1\n"));
  refused(Replace(rec, "# format 2\n", ""));
  refused(Replace(rec, "# rules 1\n", ""));
  // A game that did not start from the default tables.
  refused(Replace(rec, "# file QuillmarshRall.dat missing", "# file QuillmarshRall.dat hex 3031"));
  refused(rec + "# file Other.dat missing\n");
  // Input edited after the fact: without Enter the entry is never confirmed; Esc ends the game.
  refused(EditEvent(rec, "tap Enter", [](const std::string&) { return std::string(); }));
  refused(EditEvent(rec, "tap C", [](const std::string& t) { return t + " tap C\n" + t + " tap Esc\n"; }));
  // Beyond the limits: bytes, events, game time, and the wall clock of the replay.
  VerifyLimits small;
  small.maxBytes = rec.size() - 1;
  refused(rec, kSeed, small);
  small = {};
  small.maxEvents = 5;
  refused(rec, kSeed, small);
  refused(rec + "1900000 tap A\n");
  small = {};
  small.maxWall = std::chrono::milliseconds(0);
  EXPECT_EQ(refused(rec, kSeed, small), "the replay took too long");
  // Not a recording at all.
  refused("");
  refused(std::string("\0\xff junk", 7));
}

// Every store keeps the same promises: SQLite in a file, PostgreSQL in a fresh database of the
// tests' private cluster (skipped, saying why, where PostgreSQL is not installed).
enum class StoreKind { Sqlite, Postgres };
void PrintTo(StoreKind kind, std::ostream* out) { *out << (kind == StoreKind::Postgres ? "Postgres" : "Sqlite"); }

class StoreTest : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override {
    if (GetParam() != StoreKind::Postgres) return;
#ifndef QR_WITH_POSTGRESQL
    GTEST_SKIP() << "the server is built without PostgreSQL (libpqxx missing)";
#endif
    std::string why;
    url_ = NewPgDatabase(why);
    if (url_.empty()) GTEST_SKIP() << why;
  }
  // Another handle on the same database, as a second server would open it.
  std::unique_ptr<Store> Open() {
    return GetParam() == StoreKind::Postgres ? OpenPostgresStore(url_)
                                             : OpenSqliteStore((dir_.path() / "rankings.sqlite3").string());
  }
  static qr::Run Make(std::uint64_t seed, int mode, int p1, int p2, std::int64_t at) {
    qr::Run r;
    r.seed = seed;
    r.mode = mode;
    r.p1Score = p1;
    r.p2Score = p2;
    r.winner = mode == 2 && p2 > p1 ? 2 : 1;
    r.initials = "AB" + std::to_string(seed % 10);
    r.submittedAt = at;
    return r;
  }
  static void Issue(Store& s, std::uint64_t seed, std::int64_t expires = 2000) {
    s.AddToken(IssuedToken{"t" + std::to_string(seed), seed, 1000, expires});
  }
  TempDir dir_;
  std::string url_;
};

INSTANTIATE_TEST_SUITE_P(Stores, StoreTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         [](const ::testing::TestParamInfo<StoreKind>& kind) {
                           return kind.param == StoreKind::Postgres ? "Postgres" : "Sqlite";
                         });

TEST_P(StoreTest, MigratesOnceAndKeepsWhatItHolds) {
  {
    auto s = Open();
    EXPECT_EQ(s->Migrations(), std::vector<int>{1});
    EXPECT_TRUE(s->Healthy());
    Issue(*s, 5);
    qr::Run r = Make(5, 1, 40, 0, 1100);
    ASSERT_EQ(s->AddRun(r, "the recording\n"), AddResult::Added);
    EXPECT_EQ(r.place, 1);
  }
  auto s = Open();
  EXPECT_EQ(s->Migrations(), std::vector<int>{1});
  const auto run = s->FindRun(1);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->p1Score, 40);
  EXPECT_EQ(run->initials, "AB5");
  EXPECT_EQ(s->Recording(1), "the recording\n");
  EXPECT_FALSE(s->FindRun(2));
  EXPECT_FALSE(s->Recording(2));

  // Seeds take 53 bits, times more than 32.
  constexpr std::uint64_t big = (std::uint64_t{1} << 53) - 1;
  s->AddToken(IssuedToken{"big", big, 5'000'000'000, 5'000'007'200});
  std::uint64_t seed = 0;
  EXPECT_EQ(s->TakeToken("big", 5'000'000'001, seed), TokenUse::Taken);
  EXPECT_EQ(seed, big);
  qr::Run r = Make(big, 1, 12, 0, 5'000'000'002);
  r.gameMs = 3'000'000'000;
  ASSERT_EQ(s->AddRun(r, "x"), AddResult::Added);
  const auto back = s->FindRun(r.id);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->seed, big);
  EXPECT_EQ(back->submittedAt, 5'000'000'002);
  EXPECT_EQ(back->gameMs, 3'000'000'000);
}

TEST_P(StoreTest, TokensServeOnce) {
  auto s = Open();
  Issue(*s, 7, 2000);
  Issue(*s, 8, 1500);
  std::uint64_t seed = 0;
  EXPECT_EQ(s->TakeToken("t7", 1200, seed), TokenUse::Taken);
  EXPECT_EQ(seed, 7u);
  EXPECT_EQ(s->TakeToken("t7", 1201, seed), TokenUse::Used);
  EXPECT_EQ(s->TakeToken("nope", 1200, seed), TokenUse::Unknown);
  EXPECT_EQ(s->TakeToken("t8", 1500, seed), TokenUse::Expired);
  EXPECT_EQ(s->TakeToken("t8", 1400, seed), TokenUse::Used);                // spent by the late try
  EXPECT_THROW(s->AddToken(IssuedToken{"t9", 7, 1000, 2000}), StoreError);  // a seed issued twice
}

TEST_P(StoreTest, RanksByScoreThenMarginThenTime) {
  auto s = Open();
  std::vector<qr::Run> runs = {Make(1, 2, 6, 2, 100), Make(2, 2, 3, 6, 90), Make(3, 2, 6, 4, 80), Make(4, 2, 6, 2, 50),
                               Make(5, 1, 99, 0, 10)};
  for (qr::Run& r : runs) {
    Issue(*s, r.seed);
    ASSERT_EQ(s->AddRun(r, "x"), AddResult::Added);
  }
  // 6-2 at 50, 6-2 at 100, 3-6 (margin 3) at 90, 6-4.
  std::vector<std::uint64_t> order;
  for (const qr::Run& r : s->Rankings(2, 0, 100)) order.push_back(r.seed);
  EXPECT_EQ(order, (std::vector<std::uint64_t>{4, 1, 2, 3}));
  const auto page = s->Rankings(2, 2, 1);
  ASSERT_EQ(page.size(), 1u);
  EXPECT_EQ(page[0].seed, 2u);
  EXPECT_EQ(page[0].place, 3);
  EXPECT_EQ(s->FindRun(runs[1].id)->place, 3);
  EXPECT_EQ(s->Rankings(1, 0, 100).size(), 1u);
  // A seed ranks one run only.
  qr::Run again = Make(1, 2, 6, 0, 200);
  EXPECT_EQ(s->AddRun(again, "y"), AddResult::Duplicate);
  EXPECT_EQ(s->Rankings(2, 0, 100).size(), 4u);
}

// Two servers on one database, as PostgreSQL allows (SQLite: two handles on one file): they open
// it at once and migrate it once; of submissions racing on one token one spends it, and of runs
// racing on one seed one is ranked.
TEST_P(StoreTest, ServersSharingTheDatabaseSpendATokenOnceAndRankASeedOnce) {
  std::unique_ptr<Store> a;
  std::unique_ptr<Store> b;
  {
    auto first = std::async(std::launch::async, [this] { return Open(); });
    b = Open();
    a = first.get();
  }
  EXPECT_EQ(a->Migrations(), std::vector<int>{1});
  EXPECT_EQ(b->Migrations(), std::vector<int>{1});

  constexpr int kRounds = 10;
  constexpr int kThreads = 4;
  for (int round = 0; round < kRounds; ++round) {
    const std::uint64_t seed = 100 + static_cast<std::uint64_t>(round);
    Issue(*a, seed);
    std::vector<std::future<std::pair<TokenUse, AddResult>>> racers;
    for (int i = 0; i < kThreads; ++i) {
      Store& store = i % 2 == 0 ? *a : *b;
      racers.push_back(std::async(std::launch::async, [&store, seed, i] {
        std::uint64_t got = 0;
        const TokenUse use = store.TakeToken("t" + std::to_string(seed), 1100, got);
        qr::Run r = Make(seed, 1, 10 + i, 0, 1100);
        return std::make_pair(use, store.AddRun(r, "x"));
      }));
    }
    int taken = 0;
    int added = 0;
    for (auto& f : racers) {
      const auto [use, add] = f.get();
      taken += use == TokenUse::Taken ? 1 : 0;
      EXPECT_TRUE(use == TokenUse::Taken || use == TokenUse::Used);
      added += add == AddResult::Added ? 1 : 0;
    }
    EXPECT_EQ(taken, 1) << "round " << round;
    EXPECT_EQ(added, 1) << "round " << round;
  }
  const auto ranked = b->Rankings(1, 0, 100);
  ASSERT_EQ(ranked.size(), static_cast<std::size_t>(kRounds));
  for (std::size_t i = 0; i < ranked.size(); ++i) EXPECT_EQ(ranked[i].place, static_cast<std::int64_t>(i + 1));
}

// The API through its one entry, with a real pool and store.
class ApiTest : public ::testing::Test {
 protected:
  ApiTest() : store_(OpenSqliteStore((dir_.path() / "db").string())), pool_(2, 4) {}
  Response Call(const std::string& method, const std::string& target, const std::string& body = {},
                const std::string& type = "application/json", const std::string& client = "10.0.0.1") {
    std::promise<Response> answer;
    Request req{method, target, type, body, client};
    api_->Handle(req, [&answer](Response r) { answer.set_value(std::move(r)); });
    return answer.get_future().get();
  }
  json Seed() {
    const Response r = Call("POST", "/api/seeds");
    EXPECT_EQ(r.status, 201);
    return json::parse(r.body);
  }
  static std::string Submission(const std::string& token, const std::string& recording) {
    return json{{"token", token}, {"recording", recording}}.dump();
  }
  void Start(ApiConfig config = {}) { api_.emplace(*store_, pool_, std::move(config)); }

  TempDir dir_;
  std::unique_ptr<Store> store_;
  WorkPool pool_;
  std::optional<Api> api_;
};

TEST_F(ApiTest, AWonGameIsRankedOnceOnItsOwnSeed) {
  Start();
  EXPECT_EQ(Call("GET", "/api/health").body, R"({"ok":true})");
  const json seed = Seed();
  ASSERT_TRUE(seed["seed"].is_number_unsigned());
  EXPECT_LT(seed["seed"].get<std::uint64_t>(), std::uint64_t{1} << 53);
  EXPECT_EQ(seed["token"].get<std::string>().size(), 64u);
  EXPECT_NE(Seed()["token"], seed["token"]);
  const std::uint64_t s = seed["seed"];
  const WonGame won = RecordWonGame(s);
  ASSERT_FALSE(won.asked.empty());
  const std::string body = Submission(seed["token"], won.recording);

  const Response added = Call("POST", "/api/runs", body);
  ASSERT_EQ(added.status, 201) << added.body;
  const json run = json::parse(added.body);
  EXPECT_EQ(run["mode"], 2);
  EXPECT_EQ(run["initials"], "ABC");
  EXPECT_EQ(run["p1Score"], won.p1Score);
  EXPECT_EQ(run["p2Score"], won.p2Score);
  EXPECT_EQ(run["place"], 1);

  // The same submission again: its token is spent.
  EXPECT_EQ(Call("POST", "/api/runs", body).status, 409);
  // The same recording on another token: not that token's seed.
  EXPECT_EQ(Call("POST", "/api/runs", Submission(Seed()["token"], won.recording)).status, 422);

  const Response list = Call("GET", "/api/rankings?mode=2&limit=10");
  ASSERT_EQ(list.status, 200);
  EXPECT_EQ(json::parse(list.body)["runs"][0]["id"], run["id"]);
  EXPECT_EQ(json::parse(Call("GET", "/api/rankings?mode=1").body)["runs"].size(), 0u);
  const std::string id = std::to_string(run["id"].get<std::int64_t>());
  EXPECT_EQ(json::parse(Call("GET", "/api/runs/" + id).body)["initials"], "ABC");
  EXPECT_EQ(Call("GET", "/api/runs/" + id + "/recording").body, won.recording);
  EXPECT_EQ(Call("GET", "/api/runs/999").status, 404);
}

TEST_F(ApiTest, RefusesHostileRequestsClearly) {
  Start();
  const std::string token = Seed()["token"];
  auto status = [this](const std::string& method, const std::string& target, const std::string& body = {},
                       const std::string& type = "application/json") {
    const Response r = Call(method, target, body, type);
    EXPECT_EQ(r.contentType, "application/json");
    EXPECT_TRUE(r.status < 400 || json::parse(r.body).contains("error")) << r.body;
    return r.status;
  };
  EXPECT_EQ(status("POST", "/api/runs", ""), 400);
  EXPECT_EQ(status("POST", "/api/runs", "junk"), 400);
  EXPECT_EQ(status("POST", "/api/runs", "{\"token\": \"a\", \"recording\": \"\xff\"}"), 400);
  EXPECT_EQ(status("POST", "/api/runs", "[1, 2]"), 400);
  EXPECT_EQ(status("POST", "/api/runs", R"({"token": 5, "recording": ""})"), 400);
  EXPECT_EQ(status("POST", "/api/runs", Submission(token, "x"), "text/plain"), 415);
  EXPECT_EQ(status("POST", "/api/runs", std::string(2 * 1024 * 1024, ' ')), 413);
  EXPECT_EQ(status("POST", "/api/runs", Submission("unknown", "x")), 403);
  // A recording that is not one spends its token all the same.
  EXPECT_EQ(status("POST", "/api/runs", Submission(token, "not a recording")), 422);
  EXPECT_EQ(status("POST", "/api/runs", Submission(token, Won().recording)), 409);
  store_->AddToken(IssuedToken{"old", 123, 1, 2});
  EXPECT_EQ(status("POST", "/api/runs", Submission("old", "x")), 410);
  for (const char* bad : {"", "mode=3", "mode=1&limit=101", "mode=1&limit=0", "mode=1&offset=-1", "mode=1&limit=x",
                          "mode=1&mode=2", "mode=1&offset=99999999999"})
    EXPECT_EQ(status("GET", std::string("/api/rankings?") + bad), 400) << bad;
  EXPECT_EQ(status("GET", "/api/runs/abc"), 404);
  EXPECT_EQ(status("GET", "/api/nothing"), 404);
  EXPECT_EQ(status("DELETE", "/api/runs/1"), 405);
  EXPECT_EQ(status("GET", "/api/seeds"), 405);
  EXPECT_EQ(status("GET", "/index.html"), 404);  // no site
  EXPECT_TRUE(store_->Rankings(1, 0, 100).empty());
  EXPECT_TRUE(store_->Rankings(2, 0, 100).empty());
}

TEST_F(ApiTest, LimitsPostsPerAddressAndTellsABusyServer) {
  ApiConfig config;
  config.postsPerMinute = 3;
  Start(config);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Call("POST", "/api/seeds").status, 201);
  const Response limited = Call("POST", "/api/seeds");
  EXPECT_EQ(limited.status, 429);
  EXPECT_FALSE(limited.headers.empty());
  EXPECT_EQ(Call("POST", "/api/seeds", {}, {}, "10.0.0.2").status, 201);
  EXPECT_EQ(Call("GET", "/api/health").status, 200);

  // Every thread and the queue taken: told at once, with Retry-After.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  WorkPool busy(1, 0);
  ASSERT_TRUE(busy.TrySubmit([released] { released.wait(); }));
  Api api(*store_, busy, ApiConfig{});
  std::promise<Response> answer;
  api.Handle(Request{"POST", "/api/runs", "application/json", Submission("t", "x"), "10.0.0.3"},
             [&answer](Response r) { answer.set_value(std::move(r)); });
  const Response r = answer.get_future().get();
  release.set_value();
  EXPECT_EQ(r.status, 503);
  EXPECT_EQ(json::parse(r.body)["error"], "busy, retry later");
  ASSERT_EQ(r.headers.size(), 1u);
  EXPECT_EQ(r.headers[0].first, "Retry-After");
}

TEST(Site, ServesItsFolderAndNothingElse) {
  TempDir top;
  const auto site = top.path() / "site";
  std::filesystem::create_directories(site / "sub");
  for (const char* name : {"index.html", "rall.wasm", "manifest.webmanifest", "sub/index.html", ".hidden"})
    std::ofstream(site / name) << "x";
  std::ofstream(top.path() / "secret.txt") << "secret";
  std::filesystem::create_symlink(top.path() / "secret.txt", site / "link.txt");
  const auto root = std::filesystem::canonical(site);

  EXPECT_EQ(ResolveSiteFile(root, "/").path, root / "index.html");
  EXPECT_EQ(ResolveSiteFile(root, "/index.html?x=1").contentType, "text/html; charset=utf-8");
  EXPECT_EQ(ResolveSiteFile(root, "/rall.wasm").contentType, "application/wasm");
  EXPECT_EQ(ResolveSiteFile(root, "/manifest.webmanifest").contentType, "application/manifest+json");
  EXPECT_EQ(ResolveSiteFile(root, "/sub/").path, root / "sub" / "index.html");
  EXPECT_EQ(ResolveSiteFile(root, "/%69ndex.html").status, 200);
  for (const char* bad : {"/../secret.txt", "/sub/../../secret.txt", "/%2e%2e/secret.txt", "/..%2fsecret.txt",
                          "/sub%2F..%2F..%2Fsecret.txt", "/index.html%00.png", "/a\\b", "/%5c..", "/%", "/%zz",
                          "index.html", "//etc/passwd", "/link.txt", "/.hidden", "/missing", "/sub"})
    EXPECT_NE(ResolveSiteFile(root, bad).status, 200) << bad;
}

// A room member that keeps what it is handed, and whether it was dropped and why.
struct FakePeer final : RelayPeer {
  void Deliver(const std::string& message) override { got.push_back(message); }
  void Drop(const std::string& reason) override { why = reason.empty() ? "?" : reason; }
  std::vector<std::string> got;
  std::string why;
};

// Two members meet by the room's code and hear each other; whoever else comes, floods, sends
// passes out of order or too much is refused or dropped with the reason, and other rooms go on.
TEST(Relay, PairsTwoAndDropsWhoeverMisbehaves) {
  RelayLimits limits;
  limits.perSecond = 50;
  limits.maxRooms = 3;
  Relay relay(limits);
  auto open = [&relay] {
    auto host = std::make_shared<FakePeer>();
    relay.Open(host);
    return std::make_pair(host, json::parse(host->got.at(0))["room"].get<std::string>());
  };
  auto [host, code] = open();
  EXPECT_EQ(code.size(), 6u);
  auto guest = std::make_shared<FakePeer>();
  relay.Join(code, guest);
  EXPECT_EQ(guest->got.at(0), R"({"paired":true})");
  relay.Message(*host, R"({"k":1,"e":"d65"})");
  relay.Message(*guest, R"({"k":1,"e":""})");
  EXPECT_EQ(guest->got.back(), R"({"k":1,"e":"d65"})");
  EXPECT_EQ(host->got.back(), R"({"k":1,"e":""})");

  auto third = std::make_shared<FakePeer>();
  relay.Join(code, third);
  EXPECT_EQ(third->why, "room " + code + " has its two players");
  auto lost = std::make_shared<FakePeer>();
  relay.Join("ZZZZZZ", lost);
  EXPECT_EQ(lost->why, "there is no room ZZZZZZ");

  auto [host2, code2] = open();
  auto guest2 = std::make_shared<FakePeer>();
  relay.Join(code2, guest2);
  relay.Message(*guest2, R"({"k":5,"e":""})");  // a pass skipped
  EXPECT_EQ(guest2->why, "the guest sent its passes out of order");
  EXPECT_EQ(host2->why, guest2->why);

  auto [host3, code3] = open();
  auto guest3 = std::make_shared<FakePeer>();
  relay.Join(code3, guest3);
  for (int k = 1; k <= 200 && host3->why.empty(); ++k) relay.Message(*host3, json{{"k", k}, {"e", ""}}.dump());
  EXPECT_EQ(host3->why, "the host sent more than 50 messages a second");

  auto [host4, code4] = open();
  auto guest4 = std::make_shared<FakePeer>();
  relay.Join(code4, guest4);
  relay.Message(*host4, std::string(limits.maxMessage + 1, ' '));
  EXPECT_NE(host4->why.find("larger than"), std::string::npos);

  EXPECT_EQ(host->why, "") << "the first room was touched";
  relay.Message(*guest, R"({"k":2,"e":"u65"})");
  EXPECT_EQ(host->got.back(), R"({"k":2,"e":"u65"})");
  relay.Leave(*guest);
  EXPECT_EQ(host->why, "the other player left");
  EXPECT_EQ(relay.Expire(), 0u);
}

// Spectators get the log of the start, the passes and the byes (not the pings), then each such
// message live, under its sender's initial; the backlog comes in arrays of at most a batch. Too
// many spectators, an unknown room or a log over its bound are refused; a spectator that talks
// too much or leaves goes alone; the room's end ends the watching with the reason.
TEST(Relay, SpectatorsGetTheLogThenLiveAndGoAlone) {
  RelayLimits limits;
  limits.perSecond = 100000;
  limits.maxLog = 160 * 1024;
  Relay relay(limits);
  auto host = std::make_shared<FakePeer>();
  relay.Open(host);
  const std::string code = json::parse(host->got.at(0))["room"].get<std::string>();
  auto early = std::make_shared<FakePeer>();
  relay.Spectate(code, early);  // before the guest: nothing yet
  auto guest = std::make_shared<FakePeer>();
  relay.Join(code, guest);
  relay.Message(*host, R"({"ping":0})");
  relay.Message(*guest, R"({"pong":0})");
  relay.Message(*host, R"({"start":{"delay":2,"seed":"7","table":"missing"}})");
  relay.Message(*host, R"({"k":1, "e":"d65"})");
  relay.Message(*guest, R"({"e":"","k":1})");
  EXPECT_EQ(guest->got.back(), R"({"k":1, "e":"d65"})") << "the players' messages go on as they are";
  const std::vector<std::string> live{R"([{"h":{"start":{"delay":2,"seed":"7","table":"missing"}}}])",
                                      R"([{"h":{"e":"d65","k":1}}])", R"([{"g":{"e":"","k":1}}])"};
  EXPECT_EQ(early->got, live);

  // Late, with a backlog of more than one batch: every entry, in order, in arrays within a batch.
  for (int k = 2; k <= 3000; ++k) {
    relay.Message(*host, json{{"k", k}, {"e", ""}}.dump());
    relay.Message(*guest, json{{"k", k}, {"e", "t81"}}.dump());
  }
  auto late = std::make_shared<FakePeer>();
  relay.Spectate(code, late);
  ASSERT_GE(late->got.size(), 2u);
  std::vector<json> entries;
  for (const std::string& batch : late->got) {
    EXPECT_LE(batch.size(), kSpectatorBatch + 2);
    for (const json& e : json::parse(batch)) entries.push_back(e);
  }
  ASSERT_EQ(entries.size(), 3u + 2 * 2999);
  EXPECT_EQ(entries[0], json::parse(live[0])[0]);
  EXPECT_EQ(entries.back(), json::parse(R"({"g":{"e":"t81","k":3000}})"));
  EXPECT_EQ(early->got.size(), entries.size()) << "the early spectator had each one live";

  auto lost = std::make_shared<FakePeer>();
  relay.Spectate("ZZZZZZ", lost);
  EXPECT_EQ(lost->why, "there is no room ZZZZZZ");
  std::vector<std::shared_ptr<FakePeer>> crowd;
  for (int i = 0; i < 7; ++i) {
    crowd.push_back(std::make_shared<FakePeer>());
    relay.Spectate(code, crowd.back());
  }
  EXPECT_EQ(crowd[5]->why, "");
  EXPECT_EQ(crowd[6]->why, "room " + code + " has as many spectators as it takes");
  relay.Leave(*crowd[0]);  // a spectator that leaves makes room for another
  auto next = std::make_shared<FakePeer>();
  relay.Spectate(code, next);
  EXPECT_EQ(next->why, "");

  for (int i = 0; i < 10 && late->why.empty(); ++i) relay.Message(*late, "{}");
  EXPECT_EQ(late->why, "a spectator floods");
  EXPECT_EQ(host->why + guest->why + early->why, "") << "the players and the others went on";
  const std::size_t heard = late->got.size();

  // Over its bound the log goes: nobody more comes, those watching go on.
  for (int k = 3001; k <= 4500; ++k) relay.Message(*host, json{{"k", k}, {"e", ""}}.dump());
  relay.Message(*guest, R"({"k":3001,"e":""})");
  auto tooLate = std::make_shared<FakePeer>();
  relay.Spectate(code, tooLate);
  EXPECT_EQ(tooLate->why, "this game is too long to watch from its start");
  EXPECT_EQ(early->got.back(), R"([{"g":{"e":"","k":3001}}])");
  EXPECT_EQ(late->got.size(), heard) << "a spectator dropped was still handed messages";

  relay.Message(*host, R"({"bye":"the other player left"})");
  EXPECT_EQ(early->got.back(), R"([{"h":{"bye":"the other player left"}}])");
  relay.Leave(*host);
  EXPECT_EQ(guest->why, "the other player left");
  EXPECT_EQ(early->why, "the host left");
  EXPECT_EQ(next->why, "the host left");
}

}  // namespace qr

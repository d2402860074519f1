#pragma once
// Where the server keeps its seeds and its ranked runs. The API speaks to this interface only:
// SQLite or PostgreSQL, with the same numbered migrations (server/Migrations.hpp) and the same
// tests (tests/server/ServerTest.cpp runs them on every store).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qr {

// A seed issued to a client, good for one submission until it expires.
struct IssuedToken {
  std::string token;
  std::uint64_t seed = 0;
  std::int64_t issuedAt = 0;  // unix seconds
  std::int64_t expiresAt = 0;
};

enum class TokenUse { Taken, Unknown, Used, Expired };

// A run as verified: everything but the recording's text comes from the replay.
struct Run {
  std::int64_t id = 0;
  std::uint64_t seed = 0;
  int mode = 0;
  std::int32_t p1Score = 0;
  std::int32_t p2Score = 0;
  int winner = 0;
  std::string initials;
  std::int64_t gameMs = 0;       // the game time of the entry
  std::int64_t submittedAt = 0;  // unix seconds
  std::int64_t place = 0;        // 1 for the best run of its mode (filled on reading)
};

// The score a run is ranked by, and the margin that breaks a tie in a two-player game.
std::int32_t RankScore(const Run& run);
std::int32_t RankMargin(const Run& run);

enum class AddResult { Added, Duplicate };

class Store {
 public:
  virtual ~Store() = default;
  // Answers when the database does.
  virtual bool Healthy() = 0;
  virtual void AddToken(const IssuedToken& token) = 0;
  // Marks the token used, whatever the submission turns out to be; the seed is the token's.
  virtual TokenUse TakeToken(const std::string& token, std::int64_t now, std::uint64_t& seed) = 0;
  // Adds a run with its recording; id and place are set. Duplicate: that seed is ranked already.
  virtual AddResult AddRun(Run& run, const std::string& recording) = 0;
  // Runs of a mode, best first: score, then margin, then the earlier submission.
  virtual std::vector<Run> Rankings(int mode, std::int64_t offset, std::int64_t limit) = 0;
  virtual std::optional<Run> FindRun(std::int64_t id) = 0;
  virtual std::optional<std::string> Recording(std::int64_t id) = 0;
  // The migrations applied, in order (1, 2, ...).
  virtual std::vector<int> Migrations() = 0;
};

// Thrown by a store whose database fails; the API answers 500 with no detail.
struct StoreError {
  std::string what;
};

// The SQLite store: one file (created with its folder's permissions), WAL mode, foreign keys on,
// the migrations applied in order at opening. Safe to call from any thread.
std::unique_ptr<Store> OpenSqliteStore(const std::string& path);

// The PostgreSQL store, at a libpq connection URL (postgresql://user@host/db?sslmode=...):
// several servers may share its database. A pool of connections, the migrations applied at
// opening by one server at a time. Safe to call from any thread. Throws StoreError when the
// server was built without libpqxx.
std::unique_ptr<Store> OpenPostgresStore(const std::string& url);

}  // namespace qr

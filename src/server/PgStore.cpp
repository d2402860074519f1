// The PostgreSQL store: one database that several servers may share. Every change is one
// transaction whose outcome the database decides: a token is spent by the one UPDATE that finds
// it unused, a seed is ranked once by its unique index, and the schema is migrated by one server
// at a time under an advisory lock.
#include "server/Store.hpp"

#ifdef QR_WITH_POSTGRESQL

#include <condition_variable>
#include <mutex>
#include <pqxx/pqxx>
#include <type_traits>
#include <utility>

#include "server/Migrations.hpp"

namespace qr {

namespace {

// Tokens nobody used are forgotten a day after they expire (as in the SQLite store), a bounded
// number at a time, skipping those another server is forgetting or spending right now.
constexpr std::int64_t kForgetTokensAfter = 24 * 3600;
constexpr int kForgetAtOnce = 100;

// The advisory lock held while a server migrates: any number, the same in every server.
constexpr std::int64_t kMigrationLock = 0x51522d52616c6c;  // "QR-Rall"

// Connections one server opens at most; callers beyond that wait for one to come back.
constexpr std::size_t kMaxConnections = 8;

constexpr const char* kRunColumns =
    "id, seed, mode, p1_score, p2_score, winner, initials, game_ms, submitted_at, rank_score, rank_margin";

Run ReadRun(const pqxx::row& row) {
  Run r;
  r.id = row[0].as<std::int64_t>();
  r.seed = static_cast<std::uint64_t>(row[1].as<std::int64_t>());
  r.mode = row[2].as<int>();
  r.p1Score = row[3].as<std::int32_t>();
  r.p2Score = row[4].as<std::int32_t>();
  r.winner = row[5].as<int>();
  r.initials = row[6].as<std::string>();
  r.gameMs = row[7].as<std::int64_t>();
  r.submittedAt = row[8].as<std::int64_t>();
  return r;
}

// 1 + the runs of the same mode ranked before this one.
std::int64_t PlaceOf(pqxx::transaction_base& tx, const Run& run) {
  return tx.exec_params1(
               "SELECT COUNT(*) FROM runs WHERE mode = $1 AND (rank_score > $2 OR (rank_score = $2 AND "
               "(rank_margin > $3 OR (rank_margin = $3 AND (submitted_at < $4 OR (submitted_at = $4 AND id < $5))))))",
               run.mode, RankScore(run), RankMargin(run), run.submittedAt, run.id)[0]
             .as<std::int64_t>() +
         1;
}

class PgStore final : public Store {
 public:
  explicit PgStore(std::string url) : url_(std::move(url)) {
    Use([this](pqxx::connection& c) {
      Migrate(c);
      return 0;
    });
  }

  bool Healthy() override {
    try {
      return Use([](pqxx::connection& c) {
        pqxx::nontransaction tx(c);
        return tx.exec1("SELECT 1")[0].as<int>() == 1;
      });
    } catch (const StoreError&) {
      return false;
    }
  }

  void AddToken(const IssuedToken& t) override {
    Use([&](pqxx::connection& c) {
      pqxx::work tx(c);
      tx.exec_params(
          "DELETE FROM tokens WHERE token IN (SELECT token FROM tokens t WHERE expires_at < $1 AND NOT EXISTS "
          "(SELECT 1 FROM runs WHERE runs.token = t.token) LIMIT $2 FOR UPDATE SKIP LOCKED)",
          t.issuedAt - kForgetTokensAfter, kForgetAtOnce);
      const pqxx::result added = tx.exec_params(
          "INSERT INTO tokens (token, seed, issued_at, expires_at) VALUES ($1, $2, $3, $4) ON CONFLICT DO NOTHING "
          "RETURNING 1",
          t.token, static_cast<std::int64_t>(t.seed), t.issuedAt, t.expiresAt);
      if (added.empty()) throw StoreError{"a token or seed issued twice"};
      tx.commit();
      return 0;
    });
  }

  TokenUse TakeToken(const std::string& token, std::int64_t now, std::uint64_t& seed) override {
    return Use([&](pqxx::connection& c) {
      pqxx::work tx(c);
      // Of two servers spending the same token at once, the second waits for the first's row
      // lock, then finds the token used.
      const pqxx::result taken = tx.exec_params(
          "UPDATE tokens SET used_at = $1 WHERE token = $2 AND used_at IS NULL RETURNING seed, expires_at", now, token);
      if (taken.empty()) {
        const pqxx::result found = tx.exec_params("SELECT seed FROM tokens WHERE token = $1", token);
        if (found.empty()) return TokenUse::Unknown;
        seed = static_cast<std::uint64_t>(found[0][0].as<std::int64_t>());
        return TokenUse::Used;
      }
      tx.commit();
      seed = static_cast<std::uint64_t>(taken[0][0].as<std::int64_t>());
      return now >= taken[0][1].as<std::int64_t>() ? TokenUse::Expired : TokenUse::Taken;
    });
  }

  AddResult AddRun(Run& run, const std::string& recording) override {
    return Use([&](pqxx::connection& c) {
      pqxx::work tx(c);
      const auto seed = static_cast<std::int64_t>(run.seed);
      const pqxx::result token = tx.exec_params("SELECT token FROM tokens WHERE seed = $1", seed);
      if (token.empty()) throw StoreError{"a run of a seed never issued"};
      // A second run of the seed (or token) waits for the first's transaction, then adds nothing.
      const pqxx::result added = tx.exec_params(
          "INSERT INTO runs (token, seed, mode, p1_score, p2_score, winner, rank_score, rank_margin, initials, "
          "game_ms, submitted_at, recording) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12) "
          "ON CONFLICT DO NOTHING RETURNING id",
          token[0][0].as<std::string>(), seed, run.mode, run.p1Score, run.p2Score, run.winner, RankScore(run),
          RankMargin(run), run.initials, run.gameMs, run.submittedAt, recording);
      if (added.empty()) return AddResult::Duplicate;
      run.id = added[0][0].as<std::int64_t>();
      run.place = PlaceOf(tx, run);
      tx.commit();
      return AddResult::Added;
    });
  }

  std::vector<Run> Rankings(int mode, std::int64_t offset, std::int64_t limit) override {
    return Use([&](pqxx::connection& c) {
      pqxx::read_transaction tx(c);
      const pqxx::result rows =
          tx.exec_params(std::string("SELECT ") + kRunColumns +
                             " FROM runs WHERE mode = $1 ORDER BY rank_score DESC, rank_margin DESC, submitted_at, id "
                             "LIMIT $2 OFFSET $3",
                         mode, limit, offset);
      std::vector<Run> runs;
      std::int64_t place = offset + 1;
      for (const pqxx::row& row : rows) {
        runs.push_back(ReadRun(row));
        runs.back().place = place++;
      }
      return runs;
    });
  }

  std::optional<Run> FindRun(std::int64_t id) override {
    return Use([&](pqxx::connection& c) -> std::optional<Run> {
      pqxx::read_transaction tx(c);
      const pqxx::result rows = tx.exec_params(std::string("SELECT ") + kRunColumns + " FROM runs WHERE id = $1", id);
      if (rows.empty()) return std::nullopt;
      Run run = ReadRun(rows[0]);
      run.place = PlaceOf(tx, run);
      return run;
    });
  }

  std::optional<std::string> Recording(std::int64_t id) override {
    return Use([&](pqxx::connection& c) -> std::optional<std::string> {
      pqxx::read_transaction tx(c);
      const pqxx::result rows = tx.exec_params("SELECT recording FROM runs WHERE id = $1", id);
      if (rows.empty()) return std::nullopt;
      return rows[0][0].as<std::string>();
    });
  }

  std::vector<int> Migrations() override {
    return Use([](pqxx::connection& c) {
      pqxx::read_transaction tx(c);
      std::vector<int> versions;
      for (const pqxx::row& row : tx.exec("SELECT version FROM schema_migrations ORDER BY version"))
        versions.push_back(row[0].as<int>());
      return versions;
    });
  }

 private:
  // Each step in its own transaction, under the advisory lock (released with the transaction):
  // of two servers starting at once, the second waits, then finds the step taken.
  static void Migrate(pqxx::connection& c) {
    const std::vector<std::string> steps = SchemaMigrations(SqlDialect::Postgres);
    const int known = static_cast<int>(steps.size());
    for (;;) {
      pqxx::work tx(c);
      tx.exec("SET LOCAL lock_timeout = '60s'");
      tx.exec_params("SELECT pg_advisory_xact_lock($1)", kMigrationLock);
      tx.exec("CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY KEY, applied_at BIGINT NOT NULL)");
      const int applied = tx.exec1("SELECT COALESCE(MAX(version), 0) FROM schema_migrations")[0].as<int>();
      if (applied > known)
        throw StoreError{"the database is of a newer server (schema " + std::to_string(applied) + ")"};
      if (applied == known) {
        tx.commit();
        return;
      }
      tx.exec(steps[static_cast<std::size_t>(applied)]);
      tx.exec_params(
          "INSERT INTO schema_migrations (version, applied_at) VALUES ($1, CAST(EXTRACT(EPOCH FROM now()) AS BIGINT))",
          applied + 1);
      tx.commit();
    }
  }

  // Calls f with a connection of the pool; the database's errors become StoreError, and a
  // connection that broke is closed (the next call opens another).
  template <typename F>
  auto Use(F&& f) -> std::invoke_result_t<F&, pqxx::connection&> {
    std::unique_ptr<pqxx::connection> c = Acquire();
    try {
      auto result = f(*c);
      Release(std::move(c));
      return result;
    } catch (const StoreError&) {
      Release(std::move(c));
      throw;
    } catch (const pqxx::broken_connection& e) {
      Release(nullptr);
      throw StoreError{std::string("the connection to PostgreSQL broke: ") + e.what()};
    } catch (const std::exception& e) {
      Release(std::move(c));
      throw StoreError{e.what()};
    }
  }

  std::unique_ptr<pqxx::connection> Acquire() {
    std::unique_lock lock(mutex_);
    returned_.wait(lock, [this] { return !idle_.empty() || open_ < kMaxConnections; });
    if (!idle_.empty()) {
      std::unique_ptr<pqxx::connection> c = std::move(idle_.back());
      idle_.pop_back();
      return c;
    }
    ++open_;
    lock.unlock();
    try {
      auto c = std::make_unique<pqxx::connection>(url_);
      // No statement holds a verifying thread for long, whatever another server holds locked.
      pqxx::nontransaction(*c).exec("SET statement_timeout = '30s'");
      return c;
    } catch (const std::exception& e) {
      Release(nullptr);
      // libpq's message names the host and the reason, never the password.
      throw StoreError{std::string("cannot connect to PostgreSQL: ") + e.what()};
    }
  }

  // Back to the pool, or forgotten when null or closed.
  void Release(std::unique_ptr<pqxx::connection> c) {
    {
      std::lock_guard lock(mutex_);
      if (c != nullptr && c->is_open()) {
        idle_.push_back(std::move(c));
      } else {
        --open_;
      }
    }
    returned_.notify_one();
  }

  const std::string url_;
  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<pqxx::connection>> idle_;
  std::size_t open_ = 0;
};

}  // namespace

std::unique_ptr<Store> OpenPostgresStore(const std::string& url) { return std::make_unique<PgStore>(url); }

}  // namespace qr

#else

namespace qr {

std::unique_ptr<Store> OpenPostgresStore(const std::string&) {
  throw StoreError{"this server was built without PostgreSQL (libpqxx)"};
}

}  // namespace qr

#endif

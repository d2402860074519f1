#include <sqlite3.h>

#include <mutex>

#include "server/Migrations.hpp"
#include "server/Store.hpp"

namespace qr {

std::int32_t RankScore(const Run& run) { return run.winner == 2 ? run.p2Score : run.p1Score; }
std::int32_t RankMargin(const Run& run) {
  return run.mode == 2 ? (run.winner == 2 ? run.p2Score - run.p1Score : run.p1Score - run.p2Score) : 0;
}

namespace {

// Tokens nobody used are forgotten a day after they expire.
constexpr std::int64_t kForgetTokensAfter = 24 * 3600;

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) throw StoreError{sqlite3_errmsg(db)};
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int i, std::int64_t v) {
    Check(sqlite3_bind_int64(stmt_, i, v));
    return *this;
  }
  Statement& Bind(int i, const std::string& v) {
    Check(sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
    return *this;
  }
  // True while there is a row; false at the end.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw StoreError{sqlite3_errmsg(db_)};
  }
  // Step for a statement that may break a UNIQUE constraint: false when it did.
  bool StepUnique() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
    if (sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_UNIQUE) return false;
    throw StoreError{sqlite3_errmsg(db_)};
  }
  std::int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }
  std::string Text(int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p == nullptr ? std::string() : std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)));
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) throw StoreError{sqlite3_errmsg(db_)};
  }
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

constexpr const char* kRunColumns =
    "id, seed, mode, p1_score, p2_score, winner, initials, game_ms, submitted_at, rank_score, rank_margin";

Run ReadRun(Statement& s) {
  Run r;
  r.id = s.Int(0);
  r.seed = static_cast<std::uint64_t>(s.Int(1));
  r.mode = static_cast<int>(s.Int(2));
  r.p1Score = static_cast<std::int32_t>(s.Int(3));
  r.p2Score = static_cast<std::int32_t>(s.Int(4));
  r.winner = static_cast<int>(s.Int(5));
  r.initials = s.Text(6);
  r.gameMs = s.Int(7);
  r.submittedAt = s.Int(8);
  return r;
}

class SqliteStore final : public Store {
 public:
  explicit SqliteStore(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
      const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw StoreError{"cannot open " + path + ": " + why};
    }
    try {
      sqlite3_busy_timeout(db_, 5000);
      Exec("PRAGMA journal_mode = WAL");
      Exec("PRAGMA foreign_keys = ON");
      Exec("PRAGMA synchronous = NORMAL");
      Migrate();
    } catch (...) {
      sqlite3_close(db_);
      throw;
    }
  }
  ~SqliteStore() override { sqlite3_close(db_); }
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  bool Healthy() override {
    std::lock_guard lock(mutex_);
    try {
      Statement s(db_, "SELECT 1");
      return s.Step() && s.Int(0) == 1;
    } catch (const StoreError&) {
      return false;
    }
  }

  void AddToken(const IssuedToken& t) override {
    std::lock_guard lock(mutex_);
    Statement forget(db_, "DELETE FROM tokens WHERE expires_at < ? AND token NOT IN (SELECT token FROM runs)");
    forget.Bind(1, t.issuedAt - kForgetTokensAfter).Step();
    Statement s(db_, "INSERT INTO tokens (token, seed, issued_at, expires_at) VALUES (?, ?, ?, ?)");
    s.Bind(1, t.token).Bind(2, static_cast<std::int64_t>(t.seed)).Bind(3, t.issuedAt).Bind(4, t.expiresAt);
    if (!s.StepUnique()) throw StoreError{"a token or seed issued twice"};
  }

  TokenUse TakeToken(const std::string& token, std::int64_t now, std::uint64_t& seed) override {
    std::lock_guard lock(mutex_);
    Transaction tx(*this);
    Statement find(db_, "SELECT seed, expires_at, used_at IS NOT NULL FROM tokens WHERE token = ?");
    if (!find.Bind(1, token).Step()) return TokenUse::Unknown;
    seed = static_cast<std::uint64_t>(find.Int(0));
    const std::int64_t expires = find.Int(1);
    if (find.Int(2) != 0) return TokenUse::Used;
    Statement use(db_, "UPDATE tokens SET used_at = ? WHERE token = ?");
    use.Bind(1, now).Bind(2, token).Step();
    tx.Commit();
    return now >= expires ? TokenUse::Expired : TokenUse::Taken;
  }

  AddResult AddRun(Run& run, const std::string& recording) override {
    std::lock_guard lock(mutex_);
    Transaction tx(*this);
    Statement token(db_, "SELECT token FROM tokens WHERE seed = ?");
    if (!token.Bind(1, static_cast<std::int64_t>(run.seed)).Step()) throw StoreError{"a run of a seed never issued"};
    Statement s(db_,
                "INSERT INTO runs (token, seed, mode, p1_score, p2_score, winner, rank_score, rank_margin, initials, "
                "game_ms, submitted_at, recording) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    s.Bind(1, token.Text(0)).Bind(2, static_cast<std::int64_t>(run.seed)).Bind(3, run.mode);
    s.Bind(4, run.p1Score).Bind(5, run.p2Score).Bind(6, run.winner).Bind(7, RankScore(run)).Bind(8, RankMargin(run));
    s.Bind(9, run.initials).Bind(10, run.gameMs).Bind(11, run.submittedAt).Bind(12, recording);
    if (!s.StepUnique()) return AddResult::Duplicate;
    run.id = sqlite3_last_insert_rowid(db_);
    run.place = PlaceOf(run);
    tx.Commit();
    return AddResult::Added;
  }

  std::vector<Run> Rankings(int mode, std::int64_t offset, std::int64_t limit) override {
    std::lock_guard lock(mutex_);
    Statement s(db_, (std::string("SELECT ") + kRunColumns +
                      " FROM runs WHERE mode = ? ORDER BY rank_score DESC, rank_margin DESC, submitted_at, id "
                      "LIMIT ? OFFSET ?")
                         .c_str());
    s.Bind(1, mode).Bind(2, limit).Bind(3, offset);
    std::vector<Run> runs;
    for (std::int64_t place = offset + 1; s.Step(); ++place) {
      runs.push_back(ReadRun(s));
      runs.back().place = place;
    }
    return runs;
  }

  std::optional<Run> FindRun(std::int64_t id) override {
    std::lock_guard lock(mutex_);
    Statement s(db_, (std::string("SELECT ") + kRunColumns + " FROM runs WHERE id = ?").c_str());
    if (!s.Bind(1, id).Step()) return std::nullopt;
    Run run = ReadRun(s);
    run.place = PlaceOf(run);
    return run;
  }

  std::optional<std::string> Recording(std::int64_t id) override {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT recording FROM runs WHERE id = ?");
    if (!s.Bind(1, id).Step()) return std::nullopt;
    return s.Text(0);
  }

  std::vector<int> Migrations() override {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT version FROM schema_migrations ORDER BY version");
    std::vector<int> versions;
    while (s.Step()) versions.push_back(static_cast<int>(s.Int(0)));
    return versions;
  }

 private:
  // Rolls back unless committed.
  class Transaction {
   public:
    explicit Transaction(SqliteStore& store) : store_(store) { store_.Exec("BEGIN IMMEDIATE"); }
    ~Transaction() {
      if (!done_) sqlite3_exec(store_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
      store_.Exec("COMMIT");
      done_ = true;
    }

   private:
    SqliteStore& store_;
    bool done_ = false;
  };

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string why = error != nullptr ? error : sqlite3_errmsg(db_);
      sqlite3_free(error);
      throw StoreError{why};
    }
  }

  // Each step counted and taken under the write lock (BEGIN IMMEDIATE): of two servers opening
  // the file at once, the second waits, then finds the step taken.
  void Migrate() {
    Exec("CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY KEY, applied_at INTEGER NOT NULL)");
    const std::vector<std::string> steps = SchemaMigrations(SqlDialect::Sqlite);
    const int known = static_cast<int>(steps.size());
    for (;;) {
      Transaction tx(*this);
      int applied = 0;
      {
        Statement s(db_, "SELECT COALESCE(MAX(version), 0) FROM schema_migrations");
        s.Step();
        applied = static_cast<int>(s.Int(0));
      }
      if (applied > known)
        throw StoreError{"the database is of a newer server (schema " + std::to_string(applied) + ")"};
      if (applied == known) return;
      Exec(steps[static_cast<std::size_t>(applied)]);
      Statement s(db_, "INSERT INTO schema_migrations (version, applied_at) VALUES (?, strftime('%s', 'now'))");
      s.Bind(1, applied + 1).Step();
      tx.Commit();
    }
  }

  // 1 + the runs of the same mode ranked before this one.
  std::int64_t PlaceOf(const Run& run) {
    Statement s(
        db_,
        "SELECT COUNT(*) FROM runs WHERE mode = ?1 AND (rank_score > ?2 OR (rank_score = ?2 AND "
        "(rank_margin > ?3 OR (rank_margin = ?3 AND (submitted_at < ?4 OR (submitted_at = ?4 AND id < ?5))))))");
    s.Bind(1, run.mode).Bind(2, RankScore(run)).Bind(3, RankMargin(run)).Bind(4, run.submittedAt).Bind(5, run.id);
    s.Step();
    return s.Int(0) + 1;
  }

  sqlite3* db_ = nullptr;
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<Store> OpenSqliteStore(const std::string& path) { return std::make_unique<SqliteStore>(path); }

}  // namespace qr

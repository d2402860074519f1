#pragma once
// A fresh PostgreSQL database for one test, on the private cluster of tests/server/pg-cluster.sh.
// Under ctest the cluster is started once for the whole run (a fixture) and QR_TEST_PG_STATE
// names its state file; a test binary run by hand starts its own cluster at the first database
// asked for and stops it at exit. Without PostgreSQL the database's URL is empty and `why` says
// why, for GTEST_SKIP.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace qr {

namespace pgtest {

inline std::string Run(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p) != nullptr) out += buffer;
    if (::pclose(p) != 0) return {};
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// The cluster of this process, when it had to start one.
class OwnCluster {
 public:
  OwnCluster() : state_(std::filesystem::temp_directory_path() / ("qr-pg-state-" + std::to_string(::getpid()))) {
    Run("sh " QR_PG_CLUSTER_SCRIPT " start " + state_.string() + " >&2");
  }
  ~OwnCluster() { Run("sh " QR_PG_CLUSTER_SCRIPT " stop " + state_.string()); }
  OwnCluster(const OwnCluster&) = delete;
  OwnCluster& operator=(const OwnCluster&) = delete;
  const std::filesystem::path& state() const { return state_; }

 private:
  std::filesystem::path state_;
};

}  // namespace pgtest

// A new database's URL, or empty with the reason in `why`.
inline std::string NewPgDatabase(std::string& why) {
  std::filesystem::path state;
  if (const char* env = std::getenv("QR_TEST_PG_STATE"); env != nullptr && *env != '\0') {
    state = env;
  } else {
    static pgtest::OwnCluster own;
    state = own.state();
  }
  if (!std::filesystem::exists(state)) {
    why = "no PostgreSQL cluster (" + state.string() + " missing: are PostgreSQL's server programs installed?)";
    return {};
  }
  static int count = 0;
  const std::string name = "t" + std::to_string(::getpid()) + "_" + std::to_string(++count);
  std::string url = pgtest::Run("sh " QR_PG_CLUSTER_SCRIPT " url " + state.string() + " " + name);
  if (url.rfind("postgresql://", 0) != 0) {
    why = "could not create a database on the cluster of " + state.string();
    return {};
  }
  return url;
}

}  // namespace qr

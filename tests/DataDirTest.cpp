// Where the high-score file lives when no directory is given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "helpers/Process.hpp"
#include "hosts/desktop/DataDir.hpp"

namespace qr {

namespace {

// Sets or clears an environment variable for the life of the object.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    test::SetEnv(name, value);
  }
  ~EnvVar() { test::SetEnv(name_, old_ ? old_->c_str() : nullptr); }
  EnvVar(const EnvVar&) = delete;
  EnvVar& operator=(const EnvVar&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace

#if defined(_WIN32)
TEST(DataDir, LivesInTheRoamingApplicationData) {
  {
    EnvVar appData("APPDATA", "C:\\Users\\Pat\\AppData\\Roaming");
    EXPECT_EQ(DefaultDataDirectory(), "C:\\Users\\Pat\\AppData\\Roaming\\QuillmarshRall\\");
  }
  {
    EnvVar appData("APPDATA", nullptr);
    EXPECT_EQ(DefaultDataDirectory(), "");
  }
}
#elif !defined(__APPLE__)
TEST(DataDir, FollowsTheDataHomeOfTheUser) {
  {
    EnvVar home("HOME", "/home/pat");
    EnvVar xdg("XDG_DATA_HOME", "/data/pat");
    EXPECT_EQ(DefaultDataDirectory(), "/data/pat/quillmarsh-rall/");
  }
  {
    EnvVar home("HOME", "/home/pat");
    EnvVar xdg("XDG_DATA_HOME", "/data/pat/");
    EXPECT_EQ(DefaultDataDirectory(), "/data/pat/quillmarsh-rall/");
  }
  {
    // A relative data home does not count.
    EnvVar home("HOME", "/home/pat");
    EnvVar xdg("XDG_DATA_HOME", "data");
    EXPECT_EQ(DefaultDataDirectory(), "/home/pat/.local/share/quillmarsh-rall/");
  }
  {
    EnvVar home("HOME", "/home/pat");
    EnvVar xdg("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(DefaultDataDirectory(), "/home/pat/.local/share/quillmarsh-rall/");
  }
  {
    // Nowhere to keep it: no file at all.
    EnvVar home("HOME", nullptr);
    EnvVar xdg("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(DefaultDataDirectory(), "");
  }
}
#endif

}  // namespace qr

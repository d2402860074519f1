// Where the high-score file lives when no directory is given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/DataDir.hpp"

namespace qr {

namespace {

// Sets or clears an environment variable for the life of the object.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvVar() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  EnvVar(const EnvVar&) = delete;
  EnvVar& operator=(const EnvVar&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace

#if !defined(_WIN32) && !defined(__APPLE__)
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

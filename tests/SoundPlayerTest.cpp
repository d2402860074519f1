#include "hosts/sdl/SoundPlayer.hpp"

#include <SDL.h>
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace qr {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

void Wait(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Waits up to limitMs for the player to fall quiet; returns the milliseconds it took.
double WaitForQuiet(const SoundPlayer& player, int limitMs) {
  const auto start = Clock::now();
  while (!player.Playing().empty() && MsSince(start) < limitMs) Wait(2);
  return MsSince(start);
}

class SoundPlayerTest : public ::testing::Test {
 protected:
  void UseDriver(const char* driver) { SDL_setenv("SDL_AUDIODRIVER", driver, 1); }
  void SetUp() override { UseDriver("dummy"); }
  void TearDown() override { SDL_setenv("SDL_AUDIODRIVER", "", 1); }
};

TEST_F(SoundPlayerTest, MutedOpensNoAudioAtAll) {
  SoundPlayer player(true);
  EXPECT_FALSE(player.HasDevice());
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
  player.Play("SNDBONUS");
  EXPECT_EQ(player.Playing(), "");
}

TEST_F(SoundPlayerTest, WithoutAnAudioDeviceEveryRequestIsIgnoredSilently) {
  UseDriver("no-such-driver");
  ::testing::internal::CaptureStderr();
  {
    SoundPlayer player(false);
    EXPECT_FALSE(player.HasDevice());
    player.Play("SNDPADDLE");
    player.Play("");
    EXPECT_EQ(player.Playing(), "");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

// ALSA's library writes its complaints to stderr when SDL asks it for a sound card that is not
// there; the player keeps it quiet. On a machine with a card this simply plays.
TEST_F(SoundPlayerTest, AlsaSaysNothingWhenItHasNoCard) {
  UseDriver("alsa");
  ::testing::internal::CaptureStderr();
  {
    SoundPlayer player(false);
    player.Play("SNDPADDLE");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(SoundPlayerTest, OpensAndClosesTheAudioSubsystem) {
  {
    SoundPlayer player(false);
    EXPECT_TRUE(player.HasDevice());
    EXPECT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u);
  }
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
  // Also when the player goes while the device is still being opened, at every stage of it.
  for (int i = 0; i < 40; ++i) {
    SoundPlayer player(false);
    if (i % 2 == 0) player.Play("SNDPADDLE");
    std::this_thread::sleep_for(std::chrono::microseconds(i * 250));
  }
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

// The window holds the opening back until its first frame is out. A request made before the
// device is open sounds once it is, if it is still fresh.
TEST_F(SoundPlayerTest, HeldBackUntilReleasedAndOnlyFreshRequestsSoundOnceOpen) {
  {
    const auto start = Clock::now();
    SoundPlayer player(false, SoundPlayer::Start::WhenReleased);
    player.Play("SNDMISS");
    Wait(200);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "opened before it was released";
    while (SDL_WasInit(SDL_INIT_AUDIO) == 0 && MsSince(start) < 3000) Wait(5);  // never released ...
    ASSERT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u);                                 // ... it opens by itself
    EXPECT_GT(MsSince(start), 900);
    ASSERT_TRUE(player.HasDevice());
    EXPECT_EQ(player.Playing(), "") << "a request a second old sounded";
  }
  {
    SoundPlayer player(false, SoundPlayer::Start::WhenReleased, std::chrono::milliseconds(1500));
    player.Play("SNDMISS");  // 0.7 s long
    const auto released = Clock::now();
    player.Release();
    ASSERT_TRUE(player.HasDevice());
    EXPECT_LT(MsSince(released), 600);
    EXPECT_EQ(player.Playing(), "SNDMISS");
  }
  const auto start = Clock::now();
  {
    SoundPlayer player(false, SoundPlayer::Start::WhenReleased);
    player.Play("SNDPADDLE");
  }
  EXPECT_LT(MsSince(start), 100) << "a player that goes before it was released waits for nothing";
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

TEST_F(SoundPlayerTest, ANewRequestCutsTheSoundAndTheEmptyNameStopsIt) {
  SoundPlayer player(false);
  ASSERT_TRUE(player.HasDevice());
  EXPECT_EQ(player.Playing(), "");
  player.Play("SNDBONUS");
  EXPECT_EQ(player.Playing(), "SNDBONUS");
  player.Play("SNDPADDLE");
  EXPECT_EQ(player.Playing(), "SNDPADDLE");
  player.Play("SNDPADDLE");  // the same sound again starts over
  EXPECT_EQ(player.Playing(), "SNDPADDLE");
  player.Play("");
  EXPECT_EQ(player.Playing(), "");
  player.Play("SNDMISS");
  player.Play("SNDNOTHING");  // a name that is not a sound stops, like the empty one
  EXPECT_EQ(player.Playing(), "");
}

TEST_F(SoundPlayerTest, ASoundPlaysToItsEndInRealTime) {
  SoundPlayer player(false);
  ASSERT_TRUE(player.HasDevice());
  player.Play("SNDPADDLE");  // 0.25 s
  const double ms = WaitForQuiet(player, 3000);
  EXPECT_GT(ms, 180);
  EXPECT_LT(ms, 3000);
}

TEST_F(SoundPlayerTest, PlayNeverBlocksTheCaller) {
  SoundPlayer player(false);
  ASSERT_TRUE(player.HasDevice());
  const char* names[] = {"SNDBONUS", "SNDPADDLE", "SNDBORDER", "SNDMISS", "SNDCREDIT", ""};
  double longest = 0;
  const auto start = Clock::now();
  for (int i = 0; i < 3000; ++i) {
    const auto t = Clock::now();
    player.Play(names[i % 6]);
    longest = std::max(longest, MsSince(t));
  }
  EXPECT_LT(MsSince(start), 1000);  // 3000 requests: well under a millisecond each
  EXPECT_LT(longest, 50);
}

TEST_F(SoundPlayerTest, RequestsFromAnotherThreadAreSafe) {
  SoundPlayer player(false);
  ASSERT_TRUE(player.HasDevice());
  std::thread game([&] {
    for (int i = 0; i < 2000; ++i) player.Play(i % 2 == 0 ? "SNDBORDER" : "SNDPADDLE");
  });
  for (int i = 0; i < 2000; ++i) {
    const std::string name = player.Playing();
    EXPECT_TRUE(name.empty() || name == "SNDBORDER" || name == "SNDPADDLE") << name;
  }
  game.join();
}

// With SDL's disk driver the device writes what it plays into a file: 32-bit float mono.
class DiskOutput : public SoundPlayerTest {
 protected:
  void SetUp() override {
    std::random_device r;
    file_ = std::filesystem::temp_directory_path() / ("rall-disk-audio-" + std::to_string(r()) + ".raw");
    UseDriver("disk");
    SDL_setenv("SDL_DISKAUDIOFILE", file_.string().c_str(), 1);
  }
  void TearDown() override {
    SoundPlayerTest::TearDown();
    std::error_code ec;
    std::filesystem::remove(file_, ec);
  }
  std::vector<float> Written() const {
    std::ifstream in(file_, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> out(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(out.size() * sizeof(float)),
              reinterpret_cast<char*>(out.data()));
    return out;
  }
  // First and one past the last sample that is not silence.
  static std::pair<std::size_t, std::size_t> Sounding(const std::vector<float>& x) {
    std::size_t first = x.size(), last = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (std::abs(x[i]) > 1e-4f) {
        first = std::min(first, i);
        last = i + 1;
      }
    }
    return {first, last};
  }
  static float Peak(const std::vector<float>& x, std::size_t from, std::size_t to) {
    float p = 0;
    for (std::size_t i = from; i < to && i < x.size(); ++i) p = std::max(p, std::abs(x[i]));
    return p;
  }
  std::filesystem::path file_;
};

TEST_F(DiskOutput, TheDeviceReceivesTheWholeSoundAtItsLevel) {
  {
    SoundPlayer player(false);
    ASSERT_TRUE(player.HasDevice()) << SDL_GetError();
    player.Play("SNDPADDLE");
    WaitForQuiet(player, 3000);
    Wait(50);
  }
  const std::vector<float> out = Written();
  const auto [first, last] = Sounding(out);
  ASSERT_LT(first, last);
  const double seconds = static_cast<double>(last - first) / 44100;
  EXPECT_GT(seconds, 0.10);  // the blip's audible part
  EXPECT_LE(seconds, 0.26);  // and never more than the sound
  EXPECT_NEAR(Peak(out, first, last), 0.9, 0.05);
}

TEST_F(DiskOutput, AStoppedSoundFadesOutQuicklyInsteadOfClicking) {
  {
    SoundPlayer player(false);
    ASSERT_TRUE(player.HasDevice()) << SDL_GetError();
    player.Play("SNDMISS");  // a steady tone for its first third of a second
    Wait(150);
    player.Play("");
    Wait(200);
  }
  const std::vector<float> out = Written();
  const auto [first, last] = Sounding(out);
  ASSERT_LT(first, last);
  const double seconds = static_cast<double>(last - first) / 44100;
  EXPECT_LT(seconds, 0.6);  // cut well before its 0.7 s
  const std::size_t ms = 44;
  EXPECT_GT(Peak(out, last - 20 * ms, last - 10 * ms), 0.5);
  EXPECT_LT(Peak(out, last - ms, last), 0.3);  // the final millisecond of the 5 ms fade
}

#if !defined(_WIN32)

// SDL's disk driver on a pipe does not open before somebody reads the pipe: a device that takes
// as long to open as the test likes (3 s at most, should the player wait for it).
TEST_F(DiskOutput, NobodyWaitsForTheDeviceToOpenAndClosingMeanwhileWaitsForTheOpenOnly) {
  std::filesystem::remove(file_);
  ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
  std::promise<void> go;
  auto opened = std::async(std::launch::async, [this, ready = go.get_future()] {
    ready.wait_for(std::chrono::seconds(3));
    return ::open(file_.c_str(), O_RDONLY | O_NONBLOCK);
  });
  auto start = Clock::now();
  auto player = std::make_unique<SoundPlayer>(false);
  player->Play("SNDMISS");
  EXPECT_EQ(player->Playing(), "");
  EXPECT_LT(MsSince(start), 200);
  Wait(100);
  start = Clock::now();
  std::thread closer([&] { player.reset(); });
  Wait(300);
  go.set_value();  // now the device opens
  const int reader = opened.get();
  closer.join();
  ASSERT_GE(reader, 0);
  EXPECT_GT(MsSince(start), 250);   // the open in progress is waited for ...
  EXPECT_LT(MsSince(start), 2300);  // ... and nothing else
  std::vector<float> played(4096);
  const ssize_t n = ::read(reader, played.data(), played.size() * sizeof(float));
  ::close(reader);
  played.resize(n > 0 ? static_cast<std::size_t>(n) / sizeof(float) : 0);
  const auto [first, last] = Sounding(played);
  EXPECT_GE(first, last) << "something sounded";
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

#endif

}  // namespace
}  // namespace qr

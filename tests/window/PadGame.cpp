// A two-player game played in the window with two of SDL's virtual pads, from the coins to the
// initials: the Back buttons insert two coins, player 2's Start starts the game, player 1 follows
// the ball with the left stick while player 2 holds the D-pad up, both pads are pulled out in the
// middle of the game and plugged in again in the other order, and the winner chooses "PAD" with
// the D-pad, types it with A and confirms with Start. Passes when player 1 won (the pads kept
// their sides) and the two-player table holds PAD with the winning score. Runs in the window of the
// display in DISPLAY (ctest gives it a private Xvfb when xvfb-run is there), or else on SDL's dummy
// video driver.
//
//   window_pad_game DATA_DIR
#include <SDL.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "../Probe.hpp"
#include "hosts/sdl/SdlBackend.hpp"
#include "hosts/shared/HostWrapper.hpp"
#include "machine/Machine.hpp"

namespace {

using namespace std::chrono_literals;

// What the driver needs to know of the game, copied on the game thread at every sleep.
struct Seen {
  std::atomic<int> ballY{0};
  std::atomic<int> p1Center{0};
  std::atomic<int> credits{0};
  std::atomic<int> numPlayers{0};
  std::atomic<int> loop{-1};
  std::atomic<int> letters{0};
  std::atomic<bool> saved{false};
};

class Watcher final : public qr::HostWrapper {
 public:
  Watcher(qr::Host& inner, Seen& seen) : HostWrapper(inner), seen_(seen) {}
  void Watch(qr::frmRallex* game) { game_ = game; }
  void Pace(std::int64_t gameMs) override {
    if (game_ != nullptr) {
      seen_.ballY = qr::RallexProbe::ballY(*game_);
      seen_.p1Center = game_->p1Center;
      seen_.credits = game_->credits;
      seen_.numPlayers = game_->numPlayers;
      seen_.letters = qr::RallexProbe::letterCount(*game_);
    }
    HostWrapper::Pace(gameMs);
  }
  void CountPass(qr::LoopId id) override {
    seen_.loop = static_cast<int>(id);
    HostWrapper::CountPass(id);
  }
  bool SaveFile(const std::string& name, std::string_view bytes, std::string& error) override {
    const bool ok = HostWrapper::SaveFile(name, bytes, error);
    if (name == "QuillmarshRall.dat") seen_.saved = ok;
    return ok;
  }

 private:
  Seen& seen_;
  qr::frmRallex* game_ = nullptr;
};

SDL_Joystick* PlugIn(Uint16 vendor) {
  SDL_VirtualJoystickDesc desc{};
  desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
  desc.naxes = SDL_CONTROLLER_AXIS_MAX;
  desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
  desc.vendor_id = vendor;
  desc.product_id = 1;
  desc.name = vendor == 1 ? "Virtual pad one" : "Virtual pad two";
  const int index = SDL_JoystickAttachVirtualEx(&desc);
  return index < 0 ? nullptr : SDL_JoystickOpen(index);
}

void PullOut(SDL_Joystick* pad) {
  const SDL_JoystickID id = SDL_JoystickInstanceID(pad);
  SDL_JoystickClose(pad);
  for (int i = 0; i < SDL_NumJoysticks(); ++i) {
    if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
  }
}

void Press(SDL_Joystick* pad, SDL_GameControllerButton button) {
  SDL_JoystickSetVirtualButton(pad, button, 1);
  std::this_thread::sleep_for(60ms);
  SDL_JoystickSetVirtualButton(pad, button, 0);
  std::this_thread::sleep_for(120ms);
}

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// The driver: plays both pads and says what went wrong, if anything.
std::string Drive(Seen& seen) {
  if (!WaitFor([&] { return seen.loop == static_cast<int>(qr::LoopId::DemoLoop); }, 10s)) return "no attract mode";
  SDL_Joystick* one = PlugIn(1);
  SDL_Joystick* two = PlugIn(2);
  if (one == nullptr || two == nullptr) return std::string("no virtual pads: ") + SDL_GetError();
  std::this_thread::sleep_for(300ms);
  Press(one, SDL_CONTROLLER_BUTTON_BACK);
  std::this_thread::sleep_for(300ms);
  Press(two, SDL_CONTROLLER_BUTTON_BACK);
  if (!WaitFor([&] { return seen.credits == 2; }, 3s)) return "the Back buttons did not insert two coins";
  if (!WaitFor([&] { return seen.loop == static_cast<int>(qr::LoopId::StartPrompt); }, 10s)) return "no start prompt";
  Press(two, SDL_CONTROLLER_BUTTON_START);
  if (!WaitFor([&] { return seen.numPlayers == 2 && seen.loop == static_cast<int>(qr::LoopId::MainLoop); }, 3s)) {
    return "player 2's Start did not start a two-player game";
  }

  // Player 1 follows the ball; player 2 stays at the top.
  SDL_JoystickSetVirtualButton(two, SDL_CONTROLLER_BUTTON_DPAD_UP, 1);
  const auto start = std::chrono::steady_clock::now();
  bool replugged = false;
  while (seen.loop == static_cast<int>(qr::LoopId::MainLoop)) {
    if (std::chrono::steady_clock::now() - start > 120s) return "the game did not end";
    if (!replugged && std::chrono::steady_clock::now() - start > 6s) {
      // Both pads leave and come back, player 2's first: each gets its own side back.
      PullOut(one);
      PullOut(two);
      std::this_thread::sleep_for(200ms);
      two = PlugIn(2);
      std::this_thread::sleep_for(100ms);
      one = PlugIn(1);
      if (one == nullptr || two == nullptr) return "the pads could not be plugged in again";
      SDL_JoystickSetVirtualButton(two, SDL_CONTROLLER_BUTTON_DPAD_UP, 1);
      replugged = true;
    }
    const int gap = seen.ballY - seen.p1Center;
    SDL_JoystickSetVirtualAxis(one, SDL_CONTROLLER_AXIS_LEFTY,
                               static_cast<Sint16>(gap > 3    ? 32767
                                                   : gap < -3 ? -32768
                                                              : 0));
    std::this_thread::sleep_for(3ms);
  }
  SDL_JoystickSetVirtualAxis(one, SDL_CONTROLLER_AXIS_LEFTY, 0);
  SDL_JoystickSetVirtualButton(two, SDL_CONTROLLER_BUTTON_DPAD_UP, 0);
  if (!WaitFor([&] { return seen.loop == static_cast<int>(qr::LoopId::GetInitials); }, 10s)) {
    return "no initials entry after the game";
  }
  std::this_thread::sleep_for(300ms);

  // P is 15 steps down from A, A is 15 back up, D 3 down.
  const std::pair<SDL_GameControllerButton, int> steps[] = {
      {SDL_CONTROLLER_BUTTON_DPAD_DOWN, 15}, {SDL_CONTROLLER_BUTTON_DPAD_UP, 15}, {SDL_CONTROLLER_BUTTON_DPAD_DOWN, 3}};
  int typed = 0;
  for (const auto& [direction, n] : steps) {
    for (int i = 0; i < n; ++i) Press(one, direction);
    Press(one, SDL_CONTROLLER_BUTTON_A);
    ++typed;
    if (!WaitFor([&] { return seen.letters == typed; }, 2s)) return "A typed no character";
  }
  Press(one, SDL_CONTROLLER_BUTTON_START);
  if (!WaitFor([&] { return seen.saved.load(); }, 5s)) return "Start did not confirm the initials";
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DATA_DIR\n", argv[0]);
    return 2;
  }
  // Without a display (Wine, a machine without Xvfb) the window is SDL's dummy one.
#if defined(_WIN32)
  _putenv_s("SDL_VIDEODRIVER", "dummy");
#else
  if (std::getenv("DISPLAY") == nullptr && std::getenv("SDL_VIDEODRIVER") == nullptr)
    setenv("SDL_VIDEODRIVER", "dummy", 1);
#endif
  // The dummy driver's window never has the keyboard focus, without which SDL holds back the
  // pads' events; nor has a window under a bare X server without a window manager.
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::path(argv[1]) / "QuillmarshRall.dat", ignored);  // a fresh table
  qr::WindowOptions options;
  options.mute = true;
  options.seed = 7;
  options.dataDir = argv[1];
  Seen seen;
  std::string failure = "the game did not run";
  std::string initials;
  int score = 0;
  bool p1Won = false;
  const int code = qr::RunWindowed(options, [&](qr::Host& host) {
    Watcher watcher(host, seen);
    qr::Machine machine(watcher);
    qr::frmRallex game(machine);
    watcher.Watch(&game);
    std::thread driver([&] {
      failure = Drive(seen);
      SDL_Event quit{};
      quit.type = SDL_QUIT;
      SDL_PushEvent(&quit);
    });
    game.Form_Load();
    driver.join();
    p1Won = game.p1Score > game.p2Score;
    initials = qr::RallexProbe::hiScores2P(game)[1].initials;
    score = qr::RallexProbe::hiScores2P(game)[1].score;
  });
  if (code != 0) return 1;
  if (!failure.empty()) {
    std::printf("FAIL: %s\n", failure.c_str());
    return 1;
  }
  std::printf("two-player table, entry 1: %s %d\n", initials.c_str(), score);
  if (!p1Won || initials != "PAD" || score < 4) {
    std::printf("FAIL: wanted player 1 to win and enter PAD with at least 4 points\n");
    return 1;
  }
  std::printf("PASS\n");
  return 0;
}

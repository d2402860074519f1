#pragma once
#include <SDL.h>

#include <cstdint>
#include <map>
#include <vector>

#include "hosts/shared/Gamepads.hpp"
#include "machine/Host.hpp"

namespace qr {

// SDL's game controllers (with its database of pad mappings) as the game's keys: opens each pad
// that arrives, at start-up or later, gives it a side, and turns its D-pad, left stick and
// buttons into key events (see Gamepads). Lives on the thread that pumps SDL's events, which
// has SDL_INIT_GAMECONTROLLER.
class PadInput {
 public:
  explicit PadInput(HeldKeys& keys) : gamepads_(keys) {}
  ~PadInput();
  PadInput(const PadInput&) = delete;
  PadInput& operator=(const PadInput&) = delete;

  // Handles e when it is a pad's event, appending what the game is to see; false for any other
  // event.
  bool Handle(const SDL_Event& e, std::int64_t nowMs, std::vector<InputEvent>& out);
  Gamepads& gamepads() { return gamepads_; }

 private:
  void Attach(int deviceIndex);
  void Detach(SDL_JoystickID instance, std::vector<InputEvent>& out);

  Gamepads gamepads_;
  std::map<SDL_JoystickID, SDL_GameController*> open_;  // the pads that play
};

}  // namespace qr

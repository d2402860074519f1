#include "hosts/sdl/PadInput.hpp"

#include <cstdio>
#include <string>

namespace qr {

namespace {

// What a pad is known by when it comes back: the GUID of its model and, when it has one, its
// serial number.
std::string PadIdentity(SDL_GameController* pad) {
  char guid[33];
  SDL_JoystickGetGUIDString(SDL_JoystickGetGUID(SDL_GameControllerGetJoystick(pad)), guid, sizeof guid);
  const char* serial = SDL_GameControllerGetSerial(pad);
  return std::string(guid) + "/" + (serial != nullptr ? serial : "");
}

bool PadButton(Uint8 button, Gamepads::Button& out) {
  switch (button) {
    case SDL_CONTROLLER_BUTTON_DPAD_UP:
      out = Gamepads::Button::Up;
      return true;
    case SDL_CONTROLLER_BUTTON_DPAD_DOWN:
      out = Gamepads::Button::Down;
      return true;
    case SDL_CONTROLLER_BUTTON_A:
      out = Gamepads::Button::A;
      return true;
    case SDL_CONTROLLER_BUTTON_B:
      out = Gamepads::Button::B;
      return true;
    case SDL_CONTROLLER_BUTTON_BACK:
      out = Gamepads::Button::Back;
      return true;
    case SDL_CONTROLLER_BUTTON_START:
      out = Gamepads::Button::Start;
      return true;
    default:
      return false;
  }
}

}  // namespace

PadInput::~PadInput() {
  for (auto& [instance, pad] : open_) SDL_GameControllerClose(pad);
}

bool PadInput::Handle(const SDL_Event& e, std::int64_t nowMs, std::vector<InputEvent>& out) {
  switch (e.type) {
    case SDL_CONTROLLERDEVICEADDED:
      Attach(e.cdevice.which);
      return true;
    case SDL_CONTROLLERDEVICEREMOVED:
      Detach(e.cdevice.which, out);
      return true;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP: {
      Gamepads::Button button{};
      if (PadButton(e.cbutton.button, button)) {
        gamepads_.SetButton(e.cbutton.which, button, e.type == SDL_CONTROLLERBUTTONDOWN, nowMs, out);
      }
      return true;
    }
    case SDL_CONTROLLERAXISMOTION:
      if (e.caxis.axis == SDL_CONTROLLER_AXIS_LEFTY) gamepads_.SetStick(e.caxis.which, e.caxis.value, nowMs, out);
      return true;
    default:
      return false;
  }
}

// A pad arrived: it takes a side, or is left closed while both sides are taken.
void PadInput::Attach(int deviceIndex) {
  const SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(deviceIndex);
  if (instance < 0 || open_.count(instance) != 0) return;  // a pad present at start-up is announced twice
  SDL_GameController* pad = SDL_GameControllerOpen(deviceIndex);
  if (pad == nullptr) return;
  const int side = gamepads_.Attach(instance, PadIdentity(pad));
  if (side == 0) {
    SDL_GameControllerClose(pad);
    return;
  }
  open_[instance] = pad;
  const char* name = SDL_GameControllerName(pad);
  std::printf("Game pad \"%s\" plays player %d\n", name != nullptr ? name : "?", side);
  std::fflush(stdout);
}

void PadInput::Detach(SDL_JoystickID instance, std::vector<InputEvent>& out) {
  const auto it = open_.find(instance);
  if (it == open_.end()) return;
  gamepads_.Detach(instance, out);
  SDL_GameControllerClose(it->second);
  open_.erase(it);
}

}  // namespace qr

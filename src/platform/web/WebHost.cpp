#include "platform/web/WebHost.hpp"

#include <emscripten.h>
#include <emscripten/eventloop.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/Surface.hpp"

// The page's side of the host: web/rall.js defines the object QR that these call.
// clang-format off
EM_JS(void, qr_frame, (const std::uint8_t* rgba, int size), { QR.frame(HEAPU8.subarray(rgba, rgba + size)); });
EM_JS(void, qr_show, (), { QR.show(); });
EM_JS(void, qr_caption, (const char* text), { QR.caption(UTF8ToString(text)); });
EM_JS(void, qr_play, (const char* name), { QR.play(UTF8ToString(name)); });
EM_JS(int, qr_load_size, (const char* name), { return QR.loadSize(UTF8ToString(name)); });
EM_JS(void, qr_load_copy, (const char* name, char* out, int size), { QR.loadCopy(UTF8ToString(name), HEAPU8.subarray(out, out + size)); });
EM_JS(int, qr_save, (const char* name, const char* bytes, int size), { return QR.save(UTF8ToString(name), HEAPU8.subarray(bytes, bytes + size)); });
EM_JS(void, qr_remove, (const char* name), { QR.remove(UTF8ToString(name)); });
EM_JS(int, qr_storage_ok, (), { return QR.storageOk() ? 1 : 0; });
EM_JS(void, qr_stopped, (), { QR.stopped(); });
EM_JS(void, qr_fullscreen, (), { QR.toggleFullscreen(); });
EM_JS(void, qr_screenshot, (), { QR.screenshot(); });
EM_JS(int, qr_wants, (), { return (QR.wantRecording ? 1 : 0) | (QR.wantState ? 2 : 0) | (QR.wantStats ? 4 : 0); });
EM_JS(void, qr_take_stats, (const char* text), { QR.wantStats = false; QR.stats = UTF8ToString(text); });
EM_JS(void, qr_take_recording, (const char* text), { QR.takeRecording(UTF8ToString(text)); });
EM_JS(void, qr_take_state, (const char* json), { QR.wantState = false; QR.state = UTF8ToString(json); });
EM_JS(void, qr_recording_on, (int on), { QR.recordingOn(on !== 0); });
EM_JS(void, qr_answers, (const double* stamps, int count), { QR.answers(HEAPF64.subarray(stamps >> 3, (stamps >> 3) + count)); });
EM_JS(void, qr_message, (const char* text), { QR.fail(UTF8ToString(text)); });
// Waits ms milliseconds, or less when a key comes (qr_wake).
EM_ASYNC_JS(void, qr_wait, (double ms), {
  await new Promise(function (done) {
    const timer = setTimeout(done, ms);
    QR.wakeGame = function () { clearTimeout(timer); done(); };
  });
  QR.wakeGame = null;
});
EM_JS(void, qr_wake, (), { if (QR.wakeGame) QR.wakeGame(); });
EM_JS(int, qr_pads_allowed, (), {
  try {
    if (navigator.getGamepads) navigator.getGamepads();
    return 1;
  } catch (e) {
    return 0;
  }
});
// clang-format on

namespace qr {

namespace {

// In fast mode the page still gets control this often.
constexpr double kFastYieldMs = 16;
// The keys whose default action (scrolling, going back, the browser's find) the page stops.
bool IsPageKey(int vk) {
  return vk == 8 || vk == 9 || vk == 13 || vk == 27 || vk == 32 || (vk >= 33 && vk <= 40) || (vk >= 48 && vk <= 57) ||
         (vk >= 65 && vk <= 90) || (vk >= 186 && vk <= 222) || vk == 122 || vk == 123;
}

// An event's time stamp on the page's clock. A browser that gives none, or one that is not of the
// last second (a pad that comes back with a button held carries the time of its last change),
// gets the present.
double Stamp(double timestamp) {
  const double now = emscripten_get_now();
  return timestamp > 0 && timestamp <= now && now - timestamp < 1000 ? timestamp : now;
}

EM_BOOL OnKeyDown(int /*type*/, const EmscriptenKeyboardEvent* e, void* host) {
  return static_cast<WebHost*>(host)->KeyDown(static_cast<int>(e->keyCode), e->repeat != 0,
                                              e->ctrlKey != 0 || e->altKey != 0 || e->metaKey != 0,
                                              Stamp(e->timestamp));
}

EM_BOOL OnKeyUp(int /*type*/, const EmscriptenKeyboardEvent* e, void* host) {
  return static_cast<WebHost*>(host)->KeyUp(static_cast<int>(e->keyCode), Stamp(e->timestamp));
}

// The buttons of the standard mapping that play.
constexpr std::array<std::pair<int, Gamepads::Button>, 6> kPadButtons{{
    {12, Gamepads::Button::Up},
    {13, Gamepads::Button::Down},
    {0, Gamepads::Button::A},
    {1, Gamepads::Button::B},
    {8, Gamepads::Button::Back},
    {9, Gamepads::Button::Start},
}};

EM_BOOL OnBlur(int /*type*/, const EmscriptenFocusEvent* /*e*/, void* host) {
  static_cast<WebHost*>(host)->FocusLost();
  return 0;
}

EM_BOOL OnVisibility(int /*type*/, const EmscriptenVisibilityChangeEvent* e, void* host) {
  if (e->hidden != 0) static_cast<WebHost*>(host)->FocusLost();
  return 0;
}

}  // namespace

int VirtualKeyForDom(int keyCode) {
  switch (keyCode) {
    case 59:  // Firefox's semicolon
      return 186;
    case 61:  // Firefox's equals sign
      return 187;
    case 173:  // Firefox's minus sign
      return 189;
    default:
      return keyCode >= 1 && keyCode <= 255 ? keyCode : 0;
  }
}

WebHost::WebHost(WebOptions options)
    : options_(std::move(options)), rgba_(static_cast<std::size_t>(Surface::kWidth * Surface::kHeight) * 4, 255) {
  const char* window = EMSCRIPTEN_EVENT_TARGET_WINDOW;
  emscripten_set_keydown_callback(window, this, 1, OnKeyDown);
  emscripten_set_keyup_callback(window, this, 1, OnKeyUp);
  emscripten_set_blur_callback(window, this, 1, OnBlur);
  emscripten_set_visibilitychange_callback(this, 1, OnVisibility);
  // A page embedded without leave to use game pads gets an exception from the browser instead.
  if (options_.pads && qr_pads_allowed() == 0) {
    options_.pads = false;
    qr_message("This page may not use game pads here: the keyboard plays.");
  }
  // The pads have no events: while one plays they are read every few milliseconds as the game
  // waits (the browser runs this only then), so a press ends the wait as a key's does.
  if (options_.pads) padTimer_ = emscripten_set_interval(OnPadTimer, kPadPollMs, this);
}

void WebHost::OnPadTimer(void* host) {
  auto* self = static_cast<WebHost*>(host);
  if (std::all_of(self->padAt_.begin(), self->padAt_.end(), [](const std::string& at) { return at.empty(); })) return;
  if (self->PollPads() && self->waitingForKey_) self->keyPressed_ = true;
}

WebHost::~WebHost() {
  if (padTimer_ != 0) emscripten_clear_interval(padTimer_);
  const char* window = EMSCRIPTEN_EVENT_TARGET_WINDOW;
  emscripten_set_keydown_callback(window, nullptr, 1, nullptr);
  emscripten_set_keyup_callback(window, nullptr, 1, nullptr);
  emscripten_set_blur_callback(window, nullptr, 1, nullptr);
  emscripten_set_visibilitychange_callback(nullptr, 1, nullptr);
}

// The picture, with the character a pad would type over it, is turned into RGBA only when it
// changed; the page paints it at its next animation frame. The input the game took before is
// answered by that painting (or at once, when the picture stays as it is on the page).
void WebHost::ShowFrame(const Surface& surface) {
  const auto& indices = surface.Indices();
  const auto& palette = surface.Palette();
  const char preview = pads_.Preview();
  if (indices != shownIndices_ || palette != shownPalette_ || preview != shownPreview_) {
    shownIndices_ = indices;
    shownPalette_ = palette;
    shownPreview_ = preview;
    const std::vector<std::uint8_t>* pixels = &indices;
    const std::array<std::uint32_t, 256>* colours = &palette;
    if (preview != 0) {
      previewIndices_ = indices;
      previewPalette_ = palette;
      DrawPadPreview(previewIndices_, previewPalette_, preview);
      pixels = &previewIndices_;
      colours = &previewPalette_;
    }
    std::uint8_t* out = rgba_.data();
    for (const std::uint8_t index : *pixels) {
      const std::uint32_t rgb = (*colours)[index];
      out[0] = static_cast<std::uint8_t>(rgb >> 16);
      out[1] = static_cast<std::uint8_t>(rgb >> 8);
      out[2] = static_cast<std::uint8_t>(rgb);
      out += 4;
    }
    qr_frame(rgba_.data(), static_cast<int>(rgba_.size()));
  }
  if (!observed_.empty()) {
    qr_answers(observed_.data(), static_cast<int>(observed_.size()));
    observed_.clear();
  }
}

void WebHost::ShowWindow() { qr_show(); }

void WebHost::SetCaption(const std::string& caption) { qr_caption(caption.c_str()); }

// Game time is paced on the page's clock (performance.now(), see Pacer). The pads are read after the wait, so what they
// did meanwhile reaches the game with the keys.
void WebHost::Pace(std::int64_t gameMs) {
  now_ = gameMs;
  stats_.Slept();
  if (options_.stopMs >= 0 && gameMs >= options_.stopMs) {
    options_.stopMs = -1;
    if (onStop_) onStop_();
    qr_stopped();
    for (;;) emscripten_sleep(1000);  // halted: the page keeps the picture
  }
  if (const int wants = qr_wants(); wants != 0) {
    if ((wants & 1) != 0 && recordingSource_) qr_take_recording(recordingSource_().c_str());
    if ((wants & 2) != 0 && stateSource_) qr_take_state(stateSource_().c_str());
    if ((wants & 4) != 0) qr_take_stats(stats_.Report().c_str());
  }
  const double now = emscripten_get_now();
  if (options_.fast) {
    if (now - lastYield_ >= kFastYieldMs) {
      emscripten_sleep(0);
      lastYield_ = emscripten_get_now();
    }
    PollPads();
    return;
  }
  const Pacer::Wait w = pacer_.Next(gameMs, static_cast<std::int64_t>(now * 1000));
  const double wake = static_cast<double>(w.dueUs) / 1000;
  // A key that comes during the last pass's time ends the wait at once: the game takes it at the
  // same game time, only sooner, and the next wait is the longer for it.
  // setTimeout counts whole milliseconds and may come late, never early.
  const double early = std::ceil(static_cast<double>(w.earliestUs) / 1000 - now);
  if (early >= 1) {
    emscripten_sleep(static_cast<unsigned>(early));
    lastYield_ = emscripten_get_now();
  }
  const double wait = std::floor(wake - emscripten_get_now());
  if (wait >= 1) {
    if (inputStamps_.empty()) qr_wait(wait);
    lastYield_ = emscripten_get_now();
  } else if (now - lastYield_ >= static_cast<double>(Pacer::kRestartMs) / 2) {
    emscripten_sleep(0);  // the page must get control even when the game runs late
    lastYield_ = emscripten_get_now();
  }
  PollPads();
}

void WebHost::TakeInput(std::vector<InputEvent>& events) {
  while (nextEvent_ < options_.script.size() && options_.script[nextEvent_].ms <= now_) {
    const ScriptEvent& e = options_.script[nextEvent_++];
    events.push_back(InputEvent{e.action, e.vk});
  }
  events.insert(events.end(), input_.begin(), input_.end());
  input_.clear();
  observed_.insert(observed_.end(), inputStamps_.begin(), inputStamps_.end());
  inputStamps_.clear();
}

void WebHost::PlaySound(const std::string& name) { qr_play(name.c_str()); }

LoadedFile WebHost::LoadFile(const std::string& name, std::size_t limit) {
  LoadedFile out;
  const int size = qr_load_size(name.c_str());
  if (size == -1) return out;  // no such file
  if (size < 0) {
    out.status = LoadedFile::Status::Unreadable;
    out.reason = "the browser's storage cannot be read";
    return out;
  }
  if (static_cast<std::size_t>(size) > limit) {
    out.status = LoadedFile::Status::Unreadable;
    out.reason = "larger than " + std::to_string(limit) + " bytes";
    return out;
  }
  out.status = LoadedFile::Status::Ok;
  out.bytes.resize(static_cast<std::size_t>(size));
  qr_load_copy(name.c_str(), out.bytes.data(), size);
  return out;
}

bool WebHost::SaveFile(const std::string& name, std::string_view bytes, std::string& error) {
  switch (qr_save(name.c_str(), bytes.data(), static_cast<int>(bytes.size()))) {
    case 0:
      return true;
    case 1:
      error = "the browser's storage is full";
      return false;
    default:
      error = "the browser's storage is blocked";
      return false;
  }
}

void WebHost::Tell(const std::string& message) { qr_message(message.c_str()); }

void WebHost::RemoveFile(const std::string& name) { qr_remove(name.c_str()); }

// Without storage the game keeps no files.
std::string WebHost::FilesLocation() { return qr_storage_ok() != 0 ? "browser storage: " : ""; }

std::uint64_t WebHost::RandomSeed() {
  if (options_.seed) return *options_.seed;
  return static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
}

void WebHost::CountPass(LoopId id) {
  loop_ = id;
  stats_.Pass(id, static_cast<std::int64_t>(emscripten_get_now()));
}

// What was held before starts as let go: a button still held from the last run waits for its next
// press.
void WebHost::BeginRun() {
  pacer_.Restart();
  input_.clear();
  inputStamps_.clear();
  observed_.clear();
  held_.ReleaseAll(0xFF, scratch_);
  scratch_.clear();
  loop_ = LoopId::DemoLoop;
  focusLossQueued_ = false;
}

void WebHost::RecordingSource(std::function<std::string()> fn) {
  recordingSource_ = std::move(fn);
  qr_recording_on(recordingSource_ ? 1 : 0);
}

void WebHost::WaitForKey() {
  waitingForKey_ = true;
  keyPressed_ = false;
  while (!keyPressed_) {
    emscripten_sleep(20);
    if (PollPads()) keyPressed_ = true;  // a pad plugged in while the page waits
  }
  waitingForKey_ = false;
  input_.clear();  // what the pads did meanwhile is no input of the next run
  inputStamps_.clear();
}

// F11 switches fullscreen and F12 saves a screenshot; the game sees neither. Keys with Ctrl,
// Alt or the system key still reach the game, and keep their meaning in the browser.
bool WebHost::KeyDown(int keyCode, bool repeat, bool modifier, double stamp) {
  const int vk = VirtualKeyForDom(keyCode);
  if (vk == 122 || vk == 123) {
    if (!repeat) {
      if (vk == 122) {
        qr_fullscreen();
      } else {
        qr_screenshot();
      }
    }
    return true;
  }
  if (vk == 0) return false;
  if (waitingForKey_) {
    keyPressed_ = !modifier;
    return IsPageKey(vk) && !modifier;
  }
  pads_.KeyboardUsed();
  held_.Press(vk, HeldKeys::kKeyboard, scratch_);  // auto-repeat comes as further key-downs
  QueueAll(scratch_, repeat ? -1 : stamp);
  return IsPageKey(vk) && !modifier;
}

bool WebHost::KeyUp(int keyCode, double stamp) {
  const int vk = VirtualKeyForDom(keyCode);
  if (vk == 0 || !held_.HeldBy(vk, HeldKeys::kKeyboard)) return false;
  held_.Release(vk, HeldKeys::kKeyboard, scratch_);
  QueueAll(scratch_, stamp);
  return IsPageKey(vk);
}

// One loss ends the run; every key held goes up, since the page no longer hears them.
void WebHost::FocusLost() {
  ReleaseAll();
  if (focusLossQueued_ || waitingForKey_) return;
  focusLossQueued_ = true;
  Queue(InputEvent{InputEvent::Kind::FocusLost, 0}, -1);
}

void WebHost::ReleaseAll() {
  held_.ReleaseAll(0xFF, scratch_);
  QueueAll(scratch_, -1);
}

// A key's repeat and the events the page makes itself carry no stamp and do not end the wait.
void WebHost::Queue(InputEvent e, double stamp) {
  input_.push_back(e);
  if (stamp < 0) return;
  inputStamps_.push_back(stamp);
  qr_wake();
}

void WebHost::QueueAll(std::vector<InputEvent>& events, double stamp) {
  for (const InputEvent& e : events) Queue(e, stamp);
  events.clear();
}

// A pad is known by its place in the browser's list and its name; a pad that leaves frees its
// place, and one that comes (back) at any place gets its side again (see Gamepads). Only pads with
// the standard mapping play: on the others the buttons mean something else.
bool WebHost::PollPads() {
  if (!options_.pads) return false;
  const bool entry = loop_ == LoopId::GetInitials && !waitingForKey_;
  if (entry != pads_.Entry()) {
    pads_.SetEntry(entry, scratch_);
    QueueAll(scratch_, -1);
  }
  if (emscripten_sample_gamepad_data() != EMSCRIPTEN_RESULT_SUCCESS) return false;
  const int listed = std::min(emscripten_get_num_gamepads(), kPadSlots);
  const auto nowMs = static_cast<std::int64_t>(emscripten_get_now());
  bool pressed = false;
  for (int i = 0; i < kPadSlots; ++i) {
    EmscriptenGamepadEvent pad{};
    const bool present =
        i < listed && emscripten_get_gamepad_status(i, &pad) == EMSCRIPTEN_RESULT_SUCCESS && pad.connected != 0;
    std::string identity = present ? std::string(pad.id) : std::string();
    if (present && std::strcmp(pad.mapping, "standard") != 0) {
      if (padRefused_[static_cast<std::size_t>(i)] != identity) {
        padRefused_[static_cast<std::size_t>(i)] = identity;
        qr_message(("The game pad \"" + identity + "\" is not used: its buttons have no standard layout.").c_str());
      }
      identity.clear();
    }
    std::string& at = padAt_[static_cast<std::size_t>(i)];
    if (identity != at) {
      padButtons_[static_cast<std::size_t>(i)] = 0;
      if (!at.empty()) {
        pads_.Detach(i, scratch_);
        QueueAll(scratch_, -1);
      }
      at = identity;
      if (!at.empty()) {
        if (const int side = pads_.Attach(i, at); side != 0) {
          std::printf("Game pad \"%s\" plays player %d\n", at.c_str(), side);
          std::fflush(stdout);
        }
      }
    }
    if (at.empty()) continue;
    std::uint8_t& held = padButtons_[static_cast<std::size_t>(i)];
    for (std::size_t b = 0; b < kPadButtons.size(); ++b) {
      const auto [number, button] = kPadButtons[b];
      const bool down = number < pad.numButtons && pad.digitalButton[number] != 0;
      const auto bit = static_cast<std::uint8_t>(1U << b);
      if (down && (held & bit) == 0 && (button == Gamepads::Button::A || button == Gamepads::Button::Start)) {
        pressed = true;
      }
      // Only a change is news: a button still held as the entry ends must not count as pressed again.
      if (down != ((held & bit) != 0)) pads_.SetButton(i, button, down, nowMs, scratch_);
      held = static_cast<std::uint8_t>(down ? held | bit : held & ~bit);
    }
    const double y = pad.numAxes > 1 && std::isfinite(pad.axis[1]) ? std::clamp(pad.axis[1], -1.0, 1.0) : 0.0;
    pads_.SetStick(i, static_cast<int>(std::lround(y * 32767)), nowMs, scratch_);
    QueueAll(scratch_, Stamp(pad.timestamp));
  }
  pads_.Tick(nowMs);
  return pressed;
}

}  // namespace qr

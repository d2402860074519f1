#include "hosts/web/WebHost.hpp"

#include <emscripten.h>
#include <emscripten/eventloop.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "hosts/shared/HostKeys.hpp"
#include "machine/Surface.hpp"
#include "machine/VirtualKeys.hpp"

// The page's side of the host: web/rall.js defines the object QR that these call.
// clang-format off
// The picture's rows from top to bottom (not included) changed.
EM_JS(void, qr_frame, (const std::uint8_t* rgba, int size, int top, int bottom), { QR.frame(HEAPU8.subarray(rgba, rgba + size), top, bottom); });
EM_JS(void, qr_show, (), { QR.show(); });
EM_JS(void, qr_caption, (const char* text), { QR.caption(UTF8ToString(text)); });
EM_JS(void, qr_play, (const char* name), { QR.play(UTF8ToString(name)); });
EM_JS(int, qr_load_size, (const char* name), { return QR.loadSize(UTF8ToString(name)); });
EM_JS(void, qr_load_copy, (const char* name, char* out, int size), { QR.loadCopy(UTF8ToString(name), HEAPU8.subarray(out, out + size)); });
EM_JS(int, qr_save, (const char* name, const char* bytes, int size), { return QR.save(UTF8ToString(name), HEAPU8.subarray(bytes, bytes + size)); });
EM_JS(void, qr_storage_error, (char* out, int size), { stringToUTF8(QR.storageError, out, size); });
EM_JS(void, qr_remove, (const char* name), { QR.remove(UTF8ToString(name)); });
EM_JS(int, qr_files_location_size, (), { return lengthBytesUTF8(QR.filesLocation()); });
EM_JS(void, qr_files_location_copy, (char* out, int size), { stringToUTF8(QR.filesLocation(), out, size + 1); });
EM_JS(void, qr_stopped, (), { QR.stopped(); });
EM_JS(int, qr_resumed, (), { return QR.stoppedAt ? 0 : 1; });
EM_JS(void, qr_fullscreen, (), { QR.toggleFullscreen(); });
EM_JS(void, qr_screenshot, (), { QR.screenshot(); });
EM_JS(int, qr_wants, (), { return QR.wants(); });
EM_JS(void, qr_take_stats, (const char* text), { QR.wantStats = false; QR.stats = UTF8ToString(text); });
EM_JS(void, qr_take_recording, (const char* text), { QR.takeRecording(UTF8ToString(text)); });
EM_JS(void, qr_take_state, (const char* json), { QR.wantState = false; QR.state = UTF8ToString(json); });
EM_JS(int, qr_replay_size, (), { return lengthBytesUTF8(QR.replayWanted); });
EM_JS(void, qr_replay_copy, (char* out, int size), { stringToUTF8(QR.replayWanted, out, size + 1); QR.replayTaken(); });
EM_JS(void, qr_recording_on, (int on), { QR.recordingOn(on !== 0); });
EM_JS(void, qr_answers, (const double* stamps, int count), { QR.answers(HEAPF64.subarray(stamps >> 3, (stamps >> 3) + count)); });
EM_JS(void, qr_message, (const char* text), { QR.fail(UTF8ToString(text)); });
EM_JS(void, qr_tell, (const char* text), { QR.tell(UTF8ToString(text)); });
// Waits until the page's clock reads dueMs; input that comes meanwhile (qr_wake), or that waits
// already, ends the wait as soon as the clock reads earliestMs (see QR.wait).
EM_ASYNC_JS(void, qr_wait, (double dueMs, double earliestMs, int inputWaiting), {
  await QR.wait(dueMs, earliestMs, inputWaiting !== 0);
});
// Lets the page have its turn (its events, its painting) and comes back at once.
EM_ASYNC_JS(void, qr_yield, (), { await QR.yield(); });
EM_JS(void, qr_wake, (), { QR.wake(); });
// The pads are read every few milliseconds (qr_pad_timer) while one plays.
EM_JS(void, qr_pad_timer_on, (void* host, double ms, int on), {
  QR.padTimer(on !== 0 ? function () { _qr_pad_timer(host); } : null, ms);
});
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

// The numbers passed to and from web/rall.js, where they carry the same names.
// What QR.wants() asks of the game, as bits:
constexpr int kWantRecording = 1;  // WANT_RECORDING: the recording of the run so far (the link)
constexpr int kWantState = 2;      // WANT_STATE: the game state (tests)
constexpr int kWantStats = 4;      // WANT_STATS: the loops' cadence (measurements)
constexpr int kWantReplay = 8;     // WANT_REPLAY: a kept game is to be watched; the run ends
// What QR.loadSize() returns besides an item's length:
constexpr int kLoadMissing = -1;     // LOAD_MISSING: no such item (or no storage)
constexpr int kLoadUnreadable = -2;  // LOAD_UNREADABLE: the browser would not read it (QR.storageError says why)
// What QR.save() returns:
constexpr int kSaveOk = 0;         // SAVE_OK
constexpr int kSaveFull = 1;       // SAVE_FULL: the site's storage is full
constexpr int kSaveRefused = 2;    // SAVE_REFUSED: the browser refused it (QR.storageError says why)
constexpr int kSaveNoStorage = 3;  // SAVE_NO_STORAGE: the page has no storage

// In fast mode the page still gets control this often.
constexpr double kFastYieldMs = 16;
// The keys whose default action (scrolling, going back, the browser's find) the page stops:
// Backspace, Tab, Enter, Esc, Space, the page and arrow keys, digits, letters, punctuation, F11
// and F12.
bool IsPageKey(int key) {
  return key == vk::kBackspace || key == vk::kTab || key == vk::kEnter || key == vk::kEsc || key == vk::kSpace ||
         (key >= vk::kPageUp && key <= vk::kDown) || (key >= vk::k0 && key <= vk::k9) ||
         (key >= vk::kA && key <= vk::kZ) || (key >= vk::kSemicolon && key <= vk::kQuote) || key == vk::kF11 ||
         key == vk::kF12;
}

// Firefox's own key codes of three punctuation keys.
constexpr int kFirefoxSemicolon = 59;
constexpr int kFirefoxEquals = 61;
constexpr int kFirefoxMinus = 173;
// The browser's key codes run from 1 to 255.
constexpr int kLastKeyCode = 255;

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
    case kFirefoxSemicolon:
      return vk::kSemicolon;
    case kFirefoxEquals:
      return vk::kEquals;
    case kFirefoxMinus:
      return vk::kMinus;
    default:
      return keyCode >= 1 && keyCode <= kLastKeyCode ? keyCode : 0;
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
}

// The pads have no events: while one plays they are read every few milliseconds as the game
// waits (the browser runs the timer only then), so a press ends the wait as a key's does.
void WebHost::OnPadTimer(void* host) {
  auto* self = static_cast<WebHost*>(host);
  if (self->PollPads() && self->waitingForKey_) self->keyPressed_ = true;
}

WebHost::~WebHost() {
  if (padTimerOn_) qr_pad_timer_on(this, kPadPollMs, 0);
  const char* window = EMSCRIPTEN_EVENT_TARGET_WINDOW;
  emscripten_set_keydown_callback(window, nullptr, 1, nullptr);
  emscripten_set_keyup_callback(window, nullptr, 1, nullptr);
  emscripten_set_blur_callback(window, nullptr, 1, nullptr);
  emscripten_set_visibilitychange_callback(nullptr, 1, nullptr);
}

// The picture, with the character a pad would type over it, is turned into RGBA only where it
// changed, row by row (in a rally that is the ball and a paddle or two); the page paints those
// rows at its next animation frame. The input the game took before is answered by that painting
// (or at once, when the picture stays as it is on the page).
void WebHost::ShowFrame(const Surface& surface) {
  const std::vector<std::uint8_t>* pixels = &surface.Indices();
  const std::array<std::uint32_t, 256>* colours = &surface.Palette();
  if (const char preview = pads_.Preview(); preview != 0) {
    previewIndices_ = *pixels;
    previewPalette_ = *colours;
    DrawPadPreview(previewIndices_, previewPalette_, preview);
    pixels = &previewIndices_;
    colours = &previewPalette_;
  }
  const bool allRows = *colours != paintedPalette_ || paintedIndices_.size() != pixels->size();
  if (allRows) {
    paintedPalette_ = *colours;
    paintedIndices_.assign(pixels->size(), 0);
  }
  constexpr auto kWidth = static_cast<std::size_t>(Surface::kWidth);
  int first = -1;
  int last = -1;
  for (int y = 0; y < Surface::kHeight; ++y) {
    const std::uint8_t* row = pixels->data() + static_cast<std::size_t>(y) * kWidth;
    std::uint8_t* painted = paintedIndices_.data() + static_cast<std::size_t>(y) * kWidth;
    if (!allRows && std::memcmp(row, painted, kWidth) == 0) continue;
    std::memcpy(painted, row, kWidth);
    std::uint8_t* out = rgba_.data() + static_cast<std::size_t>(y) * kWidth * 4;
    for (std::size_t x = 0; x < kWidth; ++x) {
      const std::uint32_t rgb = (*colours)[row[x]];
      out[0] = static_cast<std::uint8_t>(rgb >> 16);
      out[1] = static_cast<std::uint8_t>(rgb >> 8);
      out[2] = static_cast<std::uint8_t>(rgb);
      out += 4;
    }
    if (first < 0) first = y;
    last = y;
  }
  if (first >= 0) qr_frame(rgba_.data(), static_cast<int>(rgba_.size()), first, last + 1);
  answered_.clear();
  input_.TakeAnswered(answered_);
  if (!answered_.empty()) qr_answers(answered_.data(), static_cast<int>(answered_.size()));
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
    // Halted: the page keeps the picture, until a test lets the game go on (QR.resume()).
    while (qr_resumed() == 0) emscripten_sleep(20);
  }
  TakePageRequests();
  const double now = emscripten_get_now();
  if (options_.fast) {
    if (now - lastYield_ >= kFastYieldMs) Yield();
    PollPads();
    return;
  }
  const Pacer::Wait w = pacer_.Next(gameMs, static_cast<std::int64_t>(now * 1000));
  const double due = static_cast<double>(w.dueUs) / 1000;
  const double earliest = static_cast<double>(w.earliestUs) / 1000;
  // One wait, which a key or a pad ends at once from the last pass's time on: the game takes the
  // input at the same game time, only sooner, and the next wait is the longer for it. Input that
  // came while the game ran does the same. No wait ends before its time: input that comes just
  // after a pass must not have to wait for the rest of it.
  const bool input = input_.Waiting();
  if (now < (input ? earliest : due)) {
    qr_wait(due, earliest, input ? 1 : 0);
    lastYield_ = emscripten_get_now();
  } else if (now - lastYield_ >= static_cast<double>(Pacer::kRestartMs) / 2) {
    Yield();  // the page must get control even when the game runs late
  }
  PollPads();
}

void WebHost::Yield() {
  qr_yield();
  lastYield_ = emscripten_get_now();
}

// What the page asks for is handed over at the next sleep.
void WebHost::TakePageRequests() {
  const int wants = qr_wants();
  if (wants == 0) return;
  if ((wants & kWantRecording) != 0 && recordingSource_) qr_take_recording(recordingSource_().c_str());
  if ((wants & kWantState) != 0 && stateSource_) qr_take_state(stateSource_().c_str());
  if ((wants & kWantStats) != 0) qr_take_stats(stats_.Report().c_str());
  if ((wants & kWantReplay) != 0) EndRun();
}

bool WebHost::ReplayWanted() { return (qr_wants() & kWantReplay) != 0; }

std::string WebHost::TakeReplay() {
  const int size = qr_replay_size();
  std::string name(static_cast<std::size_t>(size), '\0');
  qr_replay_copy(name.data(), size);
  return name;
}

void WebHost::TakeInput(std::vector<InputEvent>& events) {
  // A sleep that did not wait (the part of a replay that runs at full speed) still lets the page
  // have its turn now and then.
  if (emscripten_get_now() - lastYield_ >= kFastYieldMs) {
    TakePageRequests();
    Yield();
  }
  const std::size_t first = events.size();
  options_.script.Take(now_, events);
  input_.Take(events);
  // The recording link shows once the run has input to download.
  if (!tookInput_ && events.size() > first) {
    tookInput_ = true;
    if (recordingSource_) qr_recording_on(1);
  }
}

void WebHost::PlaySound(const std::string& name) { qr_play(name.c_str()); }

namespace {

std::string StorageError() {
  char text[256];
  qr_storage_error(text, sizeof text);
  return text;
}

}  // namespace

// An item of the browser's storage holds a byte a character (see rall.js).
LoadedFile WebHost::LoadFile(const std::string& name, std::size_t limit) {
  LoadedFile out;
  const int size = qr_load_size(name.c_str());
  if (size == kLoadMissing) return out;
  if (size == kLoadUnreadable || size < 0) {
    out.status = LoadedFile::Status::Unreadable;
    out.reason = "the browser would not read it (" + StorageError() + ")";
    return out;
  }
  if (static_cast<std::size_t>(size) > limit) {
    out.status = LoadedFile::Status::Unreadable;
    out.reason =
        "it holds " + std::to_string(size) + " characters, more than the " + std::to_string(limit) + " the game reads";
    return out;
  }
  out.status = LoadedFile::Status::Ok;
  out.bytes.resize(static_cast<std::size_t>(size));
  qr_load_copy(name.c_str(), out.bytes.data(), size);
  return out;
}

bool WebHost::SaveFile(const std::string& name, std::string_view bytes, std::string& error) {
  const int result = qr_save(name.c_str(), bytes.data(), static_cast<int>(bytes.size()));
  switch (result) {
    case kSaveOk:
      return true;
    case kSaveFull:
      error = "the browser's storage for this site is full";
      return false;
    case kSaveNoStorage:
      error = "the browser gives this page no storage";
      return false;
    case kSaveRefused:
    default:
      error = "the browser refused to store it (" + StorageError() + ")";
      return false;
  }
}

// The game's sentences are lower-case and end without a full stop; the page writes them as a
// sentence on its message line.
void WebHost::Tell(const std::string& message) { qr_tell(message.c_str()); }

void WebHost::RemoveFile(const std::string& name) { qr_remove(name.c_str()); }

// The items' names as the browser's tools show them ("local storage item quillmarsh-rall/"), or
// nothing without storage: the game then keeps no files.
std::string WebHost::FilesLocation() {
  const int size = qr_files_location_size();
  std::string location(static_cast<std::size_t>(size), '\0');
  if (size > 0) qr_files_location_copy(location.data(), size);
  return location;
}

std::uint64_t WebHost::RandomSeed() {
  if (options_.seed) return *options_.seed;
  return static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
}

void WebHost::CountPass(LoopId id) { stats_.Pass(id, static_cast<std::int64_t>(emscripten_get_now())); }

// What was held before starts as let go: a button still held from the last run waits for its next
// press.
void WebHost::BeginRun() {
  pacer_.Restart();
  input_.Clear();
  keys_.Restart();
  textEntry_ = false;
  tookInput_ = false;
  qr_recording_on(0);
}

void WebHost::RecordingSource(std::function<std::string()> fn) {
  recordingSource_ = std::move(fn);
  if (!recordingSource_ || tookInput_) qr_recording_on(recordingSource_ ? 1 : 0);
}

void WebHost::WaitForKey() {
  waitingForKey_ = true;
  keyPressed_ = false;
  while (!keyPressed_ && !ReplayWanted()) {
    emscripten_sleep(20);
    if (PollPads()) keyPressed_ = true;  // a pad plugged in while the page waits
  }
  waitingForKey_ = false;
  input_.DropWaiting();  // what the pads did meanwhile is no input of the next run
}

// F11 switches fullscreen and F12 saves a screenshot; the game sees neither. Keys with Ctrl,
// Alt or the system key still reach the game, and keep their meaning in the browser.
bool WebHost::KeyDown(int keyCode, bool repeat, bool modifier, double stamp) {
  const int vk = VirtualKeyForDom(keyCode);
  if (vk == vk::kF11 || vk == vk::kF12) {
    if (!repeat) {
      if (vk == vk::kF11) {
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
  if (keys_.KeyDown(vk, repeat, stamp)) qr_wake();  // auto-repeat comes as further key-downs, unstamped
  return IsPageKey(vk) && !modifier;
}

bool WebHost::KeyUp(int keyCode, double stamp) {
  const int vk = VirtualKeyForDom(keyCode);
  if (vk == 0 || !keys_.Held().HeldBy(vk, HeldKeys::kKeyboard)) return false;
  if (keys_.KeyUp(vk, stamp)) qr_wake();
  return IsPageKey(vk);
}

// One loss ends the run; every key held goes up, since the page no longer hears them.
void WebHost::FocusLost() {
  if (waitingForKey_) {
    keys_.ReleaseAll();
    return;
  }
  keys_.EndOnce(InputEvent::Kind::FocusLost);
}

// The page closes the run, as a closed window closes the game (a replay ends so too).
void WebHost::EndRun() {
  if (keys_.Ended()) return;
  keys_.EndOnce(InputEvent::Kind::Close);
}

// A pad is known by its place in the browser's list and its name; a pad that leaves frees its
// place, and one that comes (back) at any place gets its side again (see Gamepads). Only pads with
// the standard mapping play: on the others the buttons mean something else.
bool WebHost::PollPads() {
  if (!options_.pads) return false;
  const bool entry = textEntry_ && !waitingForKey_;
  if (entry != pads_.Entry()) {
    pads_.SetEntry(entry, scratch_);
    keys_.Add(scratch_, InputQueue::kNoStamp);
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
        keys_.Add(scratch_, InputQueue::kNoStamp);
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
    if (keys_.Add(scratch_, Stamp(pad.timestamp))) qr_wake();
  }
  pads_.Tick(nowMs);
  const bool playing = std::any_of(padAt_.begin(), padAt_.end(), [](const std::string& at) { return !at.empty(); });
  if (playing != padTimerOn_) {
    padTimerOn_ = playing;
    qr_pad_timer_on(this, kPadPollMs, playing ? 1 : 0);
  }
  return pressed;
}

}  // namespace qr

// The page calls this for the pads' timer (see qr_pad_timer_on).
extern "C" EMSCRIPTEN_KEEPALIVE void qr_pad_timer(void* host) { qr::WebHost::OnPadTimer(host); }

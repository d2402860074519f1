#include "platform/web/WebHost.hpp"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

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
// clang-format on

namespace qr {

namespace {

// After a stall longer than this (a background tab, a debugger), pacing starts afresh rather
// than racing to catch up.
constexpr std::int64_t kRestartMs = 100;
// In fast mode the page still gets control this often.
constexpr double kFastYieldMs = 16;
// The keys whose default action (scrolling, going back, the browser's find) the page stops.
bool IsPageKey(int vk) {
  return vk == 8 || vk == 9 || vk == 13 || vk == 27 || vk == 32 || (vk >= 33 && vk <= 40) || (vk >= 48 && vk <= 57) ||
         (vk >= 65 && vk <= 90) || (vk >= 186 && vk <= 222) || vk == 122 || vk == 123;
}

EM_BOOL OnKeyDown(int /*type*/, const EmscriptenKeyboardEvent* e, void* host) {
  return static_cast<WebHost*>(host)->KeyDown(static_cast<int>(e->keyCode), e->repeat != 0,
                                              e->ctrlKey != 0 || e->altKey != 0 || e->metaKey != 0);
}

EM_BOOL OnKeyUp(int /*type*/, const EmscriptenKeyboardEvent* e, void* host) {
  return static_cast<WebHost*>(host)->KeyUp(static_cast<int>(e->keyCode));
}

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
}

WebHost::~WebHost() {
  const char* window = EMSCRIPTEN_EVENT_TARGET_WINDOW;
  emscripten_set_keydown_callback(window, nullptr, 1, nullptr);
  emscripten_set_keyup_callback(window, nullptr, 1, nullptr);
  emscripten_set_blur_callback(window, nullptr, 1, nullptr);
  emscripten_set_visibilitychange_callback(nullptr, 1, nullptr);
}

// The picture is turned into RGBA only when it changed; the page paints it at its next
// animation frame.
void WebHost::ShowFrame(const Surface& surface) {
  const auto& indices = surface.Indices();
  const auto& palette = surface.Palette();
  if (indices == shownIndices_ && palette == shownPalette_) return;
  shownIndices_ = indices;
  shownPalette_ = palette;
  std::uint8_t* out = rgba_.data();
  for (const std::uint8_t index : indices) {
    const std::uint32_t rgb = palette[index];
    out[0] = static_cast<std::uint8_t>(rgb >> 16);
    out[1] = static_cast<std::uint8_t>(rgb >> 8);
    out[2] = static_cast<std::uint8_t>(rgb);
    out += 4;
  }
  qr_frame(rgba_.data(), static_cast<int>(rgba_.size()));
}

void WebHost::ShowWindow() { qr_show(); }

void WebHost::SetCaption(const std::string& caption) { qr_caption(caption.c_str()); }

// Game time t is due at the start time plus t on the page's clock (performance.now()): a late
// wake-up is made good by the next sleeps, so the game keeps its 100 passes a second.
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
    return;
  }
  const std::int64_t step = gameMs - lastGameMs_;
  const double due = origin_ + static_cast<double>(gameMs - originGameMs_);
  if (!paced_ || step > kRestartMs || step < 0 || now - due > static_cast<double>(kRestartMs)) {
    paced_ = true;
    origin_ = now + static_cast<double>(std::clamp<std::int64_t>(step, 0, kRestartMs));
    originGameMs_ = gameMs;
  }
  lastGameMs_ = gameMs;
  const double wake = origin_ + static_cast<double>(gameMs - originGameMs_);
  // setTimeout counts whole milliseconds and may come late, never early.
  const double wait = std::floor(wake - now);
  if (wait >= 1) {
    emscripten_sleep(static_cast<unsigned>(wait));
    lastYield_ = emscripten_get_now();
  } else if (now - lastYield_ >= kRestartMs / 2) {
    emscripten_sleep(0);  // the page must get control even when the game runs late
    lastYield_ = emscripten_get_now();
  }
}

void WebHost::TakeInput(std::vector<InputEvent>& events) {
  while (nextEvent_ < options_.script.size() && options_.script[nextEvent_].ms <= now_) {
    const ScriptEvent& e = options_.script[nextEvent_++];
    events.push_back(InputEvent{e.action, e.vk});
  }
  events.insert(events.end(), input_.begin(), input_.end());
  input_.clear();
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

void WebHost::RemoveFile(const std::string& name) { qr_remove(name.c_str()); }

// Without storage the game keeps no files.
std::string WebHost::FilesLocation() { return qr_storage_ok() != 0 ? "browser storage: " : ""; }

std::uint64_t WebHost::RandomSeed() {
  if (options_.seed) return *options_.seed;
  return static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
}

void WebHost::CountPass(LoopId id) { stats_.Pass(id, static_cast<std::int64_t>(emscripten_get_now())); }

void WebHost::BeginRun() {
  paced_ = false;
  input_.clear();
  down_.fill(false);
  focusLossQueued_ = false;
}

void WebHost::RecordingSource(std::function<std::string()> fn) {
  recordingSource_ = std::move(fn);
  qr_recording_on(recordingSource_ ? 1 : 0);
}

void WebHost::WaitForKey() {
  waitingForKey_ = true;
  keyPressed_ = false;
  while (!keyPressed_) emscripten_sleep(50);
  waitingForKey_ = false;
}

// F11 switches fullscreen and F12 saves a screenshot; the game sees neither. Keys with Ctrl,
// Alt or the system key still reach the game, and keep their meaning in the browser.
bool WebHost::KeyDown(int keyCode, bool repeat, bool modifier) {
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
  down_[vk] = true;
  Queue(InputEvent{InputEvent::Kind::Down, vk});  // auto-repeat comes as further key-downs
  return IsPageKey(vk) && !modifier;
}

bool WebHost::KeyUp(int keyCode) {
  const int vk = VirtualKeyForDom(keyCode);
  if (vk == 0 || !down_[vk]) return false;
  down_[vk] = false;
  Queue(InputEvent{InputEvent::Kind::Up, vk});
  return IsPageKey(vk);
}

// One loss ends the run; every key held goes up, since the page no longer hears them.
void WebHost::FocusLost() {
  ReleaseAll();
  if (focusLossQueued_ || waitingForKey_) return;
  focusLossQueued_ = true;
  Queue(InputEvent{InputEvent::Kind::FocusLost, 0});
}

void WebHost::ReleaseAll() {
  for (int vk = 1; vk < 256; ++vk) {
    if (!down_[vk]) continue;
    down_[vk] = false;
    Queue(InputEvent{InputEvent::Kind::Up, vk});
  }
}

}  // namespace qr

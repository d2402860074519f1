#include "hosts/web/WebHost.hpp"

#include <emscripten.h>

#include <chrono>
#include <cstring>
#include <utility>

#include "hosts/web/WebStorage.hpp"
#include "machine/Surface.hpp"

// The page's side of the host: web/rall.js defines the object QR that these call.
// clang-format off
// The picture's rows from top to bottom (not included) changed.
EM_JS(void, qr_frame, (const std::uint8_t* rgba, int size, int top, int bottom), { QR.frame(HEAPU8.subarray(rgba, rgba + size), top, bottom); });
EM_JS(void, qr_show, (), { QR.show(); });
EM_JS(void, qr_caption, (const char* text), { QR.caption(UTF8ToString(text)); });
EM_JS(void, qr_play, (const char* name), { QR.play(UTF8ToString(name)); });
EM_JS(void, qr_stopped, (), { QR.stopped(); });
EM_JS(int, qr_resumed, (), { return QR.stoppedAt ? 0 : 1; });
EM_JS(int, qr_wants, (), { return QR.wants(); });
EM_JS(void, qr_take_stats, (const char* text), { QR.wantStats = false; QR.stats = UTF8ToString(text); });
EM_JS(void, qr_take_recording, (const char* text), { QR.takeRecording(UTF8ToString(text)); });
EM_JS(void, qr_take_state, (const char* json), { QR.wantState = false; QR.state = UTF8ToString(json); });
EM_JS(int, qr_replay_size, (), { return lengthBytesUTF8(QR.replayWanted); });
EM_JS(void, qr_replay_copy, (char* out, int size), { stringToUTF8(QR.replayWanted, out, size + 1); QR.replayTaken(); });
EM_JS(void, qr_recording_on, (int on), { QR.recordingOn(on !== 0); });
EM_JS(void, qr_answers, (const double* stamps, int count), { QR.answers(HEAPF64.subarray(stamps >> 3, (stamps >> 3) + count)); });
EM_JS(void, qr_tell, (const char* text), { QR.tell(UTF8ToString(text)); });
EM_JS(void, qr_text_entry, (int on), { QR.textEntry(on !== 0); });
// Until the player comes back to the paused page, or a little while.
EM_ASYNC_JS(void, qr_until_resumed, (), { await QR.untilResumed(); });
// Waits until the page's clock reads dueMs; input that comes meanwhile (qr_wake), or that waits
// already, ends the wait as soon as the clock reads earliestMs (see QR.wait).
EM_ASYNC_JS(void, qr_wait, (double dueMs, double earliestMs, int inputWaiting), {
  await QR.wait(dueMs, earliestMs, inputWaiting !== 0);
});
// Lets the page have its turn (its events, its painting) and comes back at once.
EM_ASYNC_JS(void, qr_yield, (), { await QR.yield(); });
// clang-format on

namespace qr {

namespace {

// The numbers passed to and from web/rall.js, where they carry the same names.
// What QR.wants() asks of the game, as bits:
constexpr int kWantRecording = 1;  // WANT_RECORDING: the recording of the run so far (the link)
constexpr int kWantState = 2;      // WANT_STATE: the game state (tests)
constexpr int kWantStats = 4;      // WANT_STATS: the loops' cadence (measurements)
constexpr int kWantReplay = 8;     // WANT_REPLAY: a kept game is to be watched; the run ends

// In fast mode the page still gets control this often.
constexpr double kFastYieldMs = 16;

// Whether n bytes at a and b are the same, eight at a time: every pass compares the whole
// picture with the one on the page, and the C library's memcmp goes byte by byte where the rows
// are not aligned to four (three rows in four).
bool SameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t u = 0;
    std::uint64_t v = 0;
    std::memcpy(&u, a + i, 8);
    std::memcpy(&v, b + i, 8);
    if (u != v) return false;
  }
  for (; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}
}  // namespace

WebHost::WebHost(WebOptions options)
    : options_(std::move(options)), rgba_(static_cast<std::size_t>(Surface::kWidth * Surface::kHeight) * 4, 255) {
  Listen();
}

WebHost::~WebHost() { StopListening(); }

// The picture, with the character a pad would type over it, is turned into RGBA only where it
// changed, row by row (in a rally that is the ball and a paddle or two); the page paints those
// rows at its next animation frame. The input the game took before is answered by that painting
// (or at once, when the picture stays as it is on the page).
void WebHost::ShowFrame(const Surface& surface) {
  const std::vector<std::uint8_t>* pixels = &surface.Indices();
  const std::array<std::uint32_t, 256>* colours = &surface.Palette();
  char preview = touch_.Preview();
  if (preview == 0) preview = pads_.Preview();
  if (preview != 0) {
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
    if (!allRows && SameBytes(row, painted, kWidth)) continue;
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
  if (paused_) WaitWhilePaused();
  PollPads();
  touch_.Tick(static_cast<std::int64_t>(emscripten_get_now()));
}

void WebHost::WaitWhilePaused() {
  while (paused_) {
    qr_until_resumed();
    TakePageRequests();
  }
  input_.DropWaiting();
  touch_.ReleaseAll(scratch_);
  keys_.Add(scratch_, InputQueue::kNoStamp);
  keys_.ReleaseAll();
  pacer_.Restart();
  lastYield_ = emscripten_get_now();
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

// The page's touch controls change with the entry: Type, Delete and OK take the place of Coin and
// the start controls.
void WebHost::TextEntry(bool on) {
  textEntry_ = on;
  touch_.SetEntry(on, scratch_);
  keys_.Add(scratch_, InputQueue::kNoStamp);
  qr_text_entry(on ? 1 : 0);
}

// The game's sentences are lower-case and end without a full stop; the page writes them as a
// sentence on its message line.
void WebHost::Tell(const std::string& message) { qr_tell(message.c_str()); }

void WebHost::RemoveFile(const std::string& name) { RemoveItem(name); }

LoadedFile WebHost::LoadFile(const std::string& name, std::size_t limit) { return LoadItem(name, limit); }

bool WebHost::SaveFile(const std::string& name, std::string_view bytes, std::string& error) {
  return SaveItem(name, bytes, error);
}

std::string WebHost::FilesLocation() { return ItemsLocation(); }

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
  touch_.ReleaseAll(scratch_);
  touch_.SetEntry(false, scratch_);
  scratch_.clear();
  paused_ = false;
  textEntry_ = false;
  qr_text_entry(0);
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

}  // namespace qr

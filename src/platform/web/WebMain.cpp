// The game as a web page: runs the game on the page's host; when a run ends (Esc in the attract
// mode, or the page losing the focus) the page asks for a key and the game starts again, with
// the tables kept in the browser's storage.
#include <emscripten.h>

#include <charconv>
#include <cstdint>
#include <sstream>
#include <string>

#include "app/frmRallex.hpp"
#include "platform/Machine.hpp"
#include "platform/Recorder.hpp"
#include "platform/sound/GameSounds.hpp"
#include "platform/web/WebHost.hpp"

// clang-format off
EM_JS(int, qr_param_size, (const char* name), { return lengthBytesUTF8(QR.param(UTF8ToString(name))); });
EM_JS(void, qr_param_copy, (const char* name, char* out, int size), { stringToUTF8(QR.param(UTF8ToString(name)), out, size + 1); });
EM_JS(void, qr_fail, (const char* text), { QR.fail(UTF8ToString(text)); });
EM_JS(void, qr_add_sound, (const char* name, const std::uint8_t* wave, int size), { QR.addSound(UTF8ToString(name), HEAPU8.slice(wave, wave + size)); });
EM_JS(void, qr_state, (const char* json), { QR.state = UTF8ToString(json); });
EM_JS(void, qr_ended, (const char* recording), { QR.ended(UTF8ToString(recording)); });
// clang-format on

namespace {

// A parameter of the page's address; empty when absent.
std::string Param(const char* name) {
  const int size = qr_param_size(name);
  std::string value(static_cast<std::size_t>(size), '\0');
  if (size > 0) qr_param_copy(name, value.data(), size);
  return value;
}

bool ParseCount(const std::string& text, std::uint64_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return !text.empty() && ec == std::errc() && ptr == end;
}

// The test parameters of the address; false, with the message on the page, when one is wrong.
bool ReadOptions(qr::WebOptions& options) {
  std::uint64_t n = 0;
  const std::string seed = Param("seed");
  if (!seed.empty()) {
    if (!ParseCount(seed, n)) {
      qr_fail(("The seed must be a whole number, not " + qr::Quoted(seed) + ".").c_str());
      return false;
    }
    options.seed = n;
  }
  const std::string stop = Param("stop-ms");
  if (!stop.empty()) {
    if (!ParseCount(stop, n) || n > 1'000'000'000'000) {
      qr_fail(("stop-ms must be a number of milliseconds, not " + qr::Quoted(stop) + ".").c_str());
      return false;
    }
    options.stopMs = static_cast<std::int64_t>(n);
  }
  options.fast = Param("fast") == "1";
  options.pads = Param("no-gamepad") != "1";
  const std::string script = Param("script");
  if (!script.empty()) {
    std::istringstream in(script);
    std::string error;
    auto events = qr::ParseScript(in, "the script", error);
    if (!events) {
      qr_fail(error.c_str());
      return false;
    }
    options.script = std::move(*events);
  }
  return true;
}

}  // namespace

int main() {
  qr::WebOptions options;
  if (!ReadOptions(options)) return 1;
  for (const qr::GameSound& sound : qr::GameSounds()) {
    qr_add_sound(sound.name.c_str(), sound.wave.data(), static_cast<int>(sound.wave.size()));
  }
  qr::WebHost host(std::move(options));
  for (;;) {
    host.BeginRun();
    {
      // Every run is recorded: the page's link downloads it, and a game that enters a table
      // keeps its recording beside the table.
      qr::Recorder recorder(host, nullptr);
      qr::Machine machine(recorder);
      qr::frmRallex game(machine);
      host.RecordingSource([&] { return recorder.Recording(); });
      host.StateSource([&] { return game.StateJson(machine.NowMs(), false, machine.Sounds()); });
      host.OnStop([&] {
        host.ShowFrame(machine.surface());
        qr_state(game.StateJson(machine.NowMs(), false, machine.Sounds()).c_str());
      });
      game.Form_Load();
      host.OnStop({});
      host.StateSource({});
      host.RecordingSource({});
      qr_state(game.StateJson(machine.NowMs(), true, machine.Sounds()).c_str());
      qr_ended(recorder.Recording().c_str());
    }
    host.WaitForKey();
  }
}

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "game/app/frmRallex.hpp"
#include "hosts/desktop/Options.hpp"
#include "hosts/desktop/RecordingFile.hpp"
#include "hosts/headless/HeadlessRun.hpp"
#include "hosts/sdl/SdlBackend.hpp"
#include "hosts/shared/Recorder.hpp"
#include "machine/Machine.hpp"
#if defined(_WIN32)
#include "hosts/desktop/windows/Console.hpp"
#endif

int main(int argc, char** argv) {
#if defined(_WIN32)
  qr::AttachParentConsole();
#endif
  std::string error;
  auto options = qr::ParseOptions(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "quillmarsh-rall: %s\n", error.c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(qr::UsageText().c_str(), stdout);
    return 0;
  }
  if (options->version) {
    std::printf("quillmarsh-rall %s\n", QR_VERSION);
    return 0;
  }
  if (options->headless) return qr::RunHeadless(*options);

  qr::Script replay;
  if (!options->replay.empty() && !qr::LoadScript(options->replay, "recording", replay)) return 2;
  if (!qr::CheckOutputs(*options)) return 2;
  // Written aside as the game goes; the file itself is replaced only by a whole recording.
  std::optional<qr::RecordingFile> record;
  if (!options->record.empty()) record.emplace(options->record);

  qr::WindowOptions w;
  w.scale = options->scale;
  w.fullscreen = options->fullscreen;
  w.mute = options->mute;
  w.gamepads = !options->noGamepad;
  w.pauseWhenUnfocused = options->pauseWhenUnfocused;
  w.stats = options->stats;
  w.seed = options->seed;
  w.dataDir = options->dataDir;
  int code = 0;
  const int windowCode = qr::RunWindowed(w, [&](qr::Host& host) {
    std::optional<qr::Replayer> replayer;
    if (!options->replay.empty()) replayer.emplace(host, std::move(replay), options->seed);
    // Every game is recorded, so that a game that enters a high-score table keeps its recording.
    qr::Recorder recorder(replayer ? static_cast<qr::Host&>(*replayer) : host, record ? &*record : nullptr);
    qr::Machine machine(recorder);
    qr::frmRallex game(machine);
    game.Form_Load();
    if (!recorder.Finish()) code = 1;
    if (qr::WriteEndOfRun(*options, machine, game, true) != 0) code = 1;
  });
  return windowCode != 0 ? windowCode : code;
}

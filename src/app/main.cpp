#include <cstdio>
#include <string>

#include "app/HeadlessRun.hpp"
#include "app/Options.hpp"
#include "app/frmRallex.hpp"
#include "platform/Machine.hpp"
#include "platform/sdl/SdlBackend.hpp"

int main(int argc, char** argv) {
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

  qr::WindowOptions w;
  w.scale = options->scale;
  w.fullscreen = options->fullscreen;
  w.mute = options->mute;
  w.stats = options->stats;
  w.seed = options->seed;
  w.dataDir = options->dataDir;
  return qr::RunWindowed(w, [](qr::Host& host) {
    qr::Machine machine(host);
    qr::frmRallex game(machine);
    game.Form_Load();
  });
}

// Saves the high-score tables over and over, cycling through a few distinct tables, until it is
// killed. Usage: save-loop-child DATA_DIR
#include <cstdio>

#include "../Probe.hpp"
#include "SaveLoopTables.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DATA_DIR\n", argv[0]);
    return 2;
  }
  qr::HeadlessOptions options;
  options.dataDir = argv[1];
  qr::HeadlessMachine platform(options);
  qr::frmRallex game(platform);
  for (unsigned long n = 0;; ++n) {
    qr::SaveLoopVariant(static_cast<int>(n % qr::kSaveLoopVariants), qr::RallexProbe::hiScores(game),
                        qr::RallexProbe::hiScores2P(game));
    game.SaveHighScores();
    if (n == 0) {
      std::fputs("saving\n", stdout);
      std::fflush(stdout);
    }
  }
}

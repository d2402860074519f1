// server_record_game SEED FILE [INITIALS]: writes the recording of a won two-player game on that
// seed (tests/server/WonGame.hpp), for the API test to submit.
#include <cstdio>
#include <fstream>
#include <string>

#include "WonGame.hpp"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: server_record_game SEED FILE [INITIALS]\n");
    return 2;
  }
  const qr::WonGame won = qr::RecordWonGame(std::stoull(argv[1]), argc == 4 ? argv[3] : "ABC");
  std::ofstream out(argv[2], std::ios::binary);
  out << won.recording;
  return out.good() && !won.asked.empty() ? 0 : 1;
}

// server_record_game SEED FILE [INITIALS [COIN_MS]]: writes the recording of a won two-player game
// on that seed, its first coin at COIN_MS (tests/server/WonGame.hpp), for the API test to submit.
#include <cstdio>
#include <fstream>
#include <string>

#include "WonGame.hpp"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fprintf(stderr, "usage: server_record_game SEED FILE [INITIALS [COIN_MS]]\n");
    return 2;
  }
  const qr::WonGame won =
      qr::RecordWonGame(std::stoull(argv[1]), argc >= 4 ? argv[3] : "ABC", argc == 5 ? std::stoll(argv[4]) : 1000);
  std::ofstream out(argv[2], std::ios::binary);
  out << won.recording;
  return out.good() && !won.asked.empty() ? 0 : 1;
}

// Writes the game's five sounds as WAV files into a directory, for listening and measuring.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "machine/sound/GameSounds.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: rall-sounds OUTDIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "rall-sounds: cannot make %s: %s\n", dir.string().c_str(), ec.message().c_str());
    return 1;
  }
  for (const qr::GameSound& s : qr::GameSounds()) {
    const std::filesystem::path file = dir / (s.name + ".wav");
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(s.wave.data()), static_cast<std::streamsize>(s.wave.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "rall-sounds: cannot write %s\n", file.string().c_str());
      return 1;
    }
    std::printf("%s\n", file.string().c_str());
  }
  return 0;
}

// Measures the window backend's own cadence: a loop of Refresh() and Sleep(10), as the rally
// loop does, with a box that moves every pass so that every frame is new. Prints the passes per
// second and the process's CPU share; exits 1 when the passes per second fall below --min.
//
//   window_cadence_probe [--seconds N] [--min RATE] [--scale N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "hosts/sdl/SdlBackend.hpp"
#include "machine/Machine.hpp"

int main(int argc, char** argv) {
  double seconds = 5;
  double minRate = 0;
  qr::WindowOptions options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const double value = std::atof(argv[i + 1]);
    if (flag == "--seconds") {
      seconds = value;
    } else if (flag == "--min") {
      minRate = value;
    } else if (flag == "--scale") {
      options.scale = static_cast<int>(value);
    } else {
      std::fprintf(stderr, "usage: %s [--seconds N] [--min RATE] [--scale N]\n", argv[0]);
      return 2;
    }
  }
  options.mute = true;
  options.stats = true;

  double rate = 0;
  double cpuShare = 0;
  const int code = qr::RunWindowed(options, [&](qr::Host& host) {
    qr::Machine platform(host);
    using Clock = std::chrono::steady_clock;
    platform.SetCaption("Quillmarsh Rall");
    platform.Show();
    qr::Surface& s = platform.surface();
    s.DrawWidth(1);
    const auto start = Clock::now();
    const std::clock_t cpuStart = std::clock();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    long passes = 0;
    int x = 0;
    while (Clock::now() < end) {
      platform.CountPass(qr::LoopId::MainLoop);
      s.Box(x, 100, x + 4, 104, 0x000000, true);
      x = (x + 3) % (qr::Surface::kWidth - 5);
      s.Box(x, 100, x + 4, 104, 0xC0C0C0, true);
      platform.Refresh();
      platform.Sleep(10);
      ++passes;
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    rate = static_cast<double>(passes) / wall;
    cpuShare = 100.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC / wall;
  });
  if (code != 0) return code;
  std::printf("window cadence: %.1f passes/s, CPU %.1f %% of one core\n", rate, cpuShare);
  if (rate < minRate) {
    std::printf("below the bar of %.1f passes/s\n", minRate);
    return 1;
  }
  return 0;
}

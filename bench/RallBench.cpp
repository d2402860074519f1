// Speed of the game's hot paths on the headless surface, and of the window's F12 screenshot.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <filesystem>

#include "../tests/Probe.hpp"
#include "game/rally/BallCodes.hpp"
#include "hosts/desktop/Png.hpp"
#include "hosts/sdl/Screenshot.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {
namespace {

// One pass of a two-player rally as the rally loop makes it: the players' keys polled, both
// paddles moved, the ball stepped, the picture refreshed.
void BM_RallyPass(benchmark::State& state) {
  StartedGame s;
  frmRallex& g = s.game;
  g.numPlayers = 2;
  g.InitVariables();
  RallexProbe::form(g).Cls();
  g.Update();
  g.movingBall = true;
  std::int16_t step = 5;
  for (auto _ : state) {
    s.platform.GetAsyncKeyState(vk::kEsc);
    s.platform.GetAsyncKeyState(vk::kA);
    s.platform.GetAsyncKeyState(vk::kZ);
    s.platform.GetAsyncKeyState(vk::kSemicolon);
    s.platform.GetAsyncKeyState(vk::kUp);
    s.platform.GetAsyncKeyState(vk::kDown);
    if (g.p1y0 <= 36 || g.p1y1 >= 204) step = static_cast<std::int16_t>(-step);
    g.MoveP1(step);
    g.MoveP2(static_cast<std::int16_t>(-step));
    const std::int16_t r = g.TickBall();
    if (r == kTickPointP1 || r == kTickPointP2) {
      // Keep the ball in play: put it back in the middle without scoring.
      g.missedBall = false;
      RallexProbe::ballX(g) = 160;
      RallexProbe::ballY(g) = 120;
    }
    s.platform.Refresh();
    benchmark::DoNotOptimize(g.ballDir);
  }
}
BENCHMARK(BM_RallyPass);

// One scroll step of the attract mode's text roll: clear, redraw the playfield, eleven rows.
void BM_RollScrollStep(benchmark::State& state) {
  StartedGame s;
  frmRallex& g = s.game;
  Surface& form = RallexProbe::form(g);
  const auto& lines = RallexProbe::textLines(g);
  int rollLine = 10;
  for (auto _ : state) {
    form.Cls();
    g.Update();
    form.CurrentY = 30;
    for (int i = rollLine - 10; i <= rollLine; ++i) {
      if (i >= 1 && i <= 18) {
        form.CurrentX = lines[i].x;
        form.Print(lines[i].text);
      } else {
        form.Print("");
      }
    }
    rollLine = rollLine >= 28 ? 10 : rollLine + 1;
    benchmark::DoNotOptimize(form.Indices().data());
  }
}
BENCHMARK(BM_RollScrollStep);

// The high-score screen, drawn on every pass of its attract phase.
void BM_DspHighScores(benchmark::State& state) {
  StartedGame s;
  for (auto _ : state) {
    s.game.DspHighScores();
    benchmark::DoNotOptimize(RallexProbe::form(s.game).Indices().data());
  }
}
BENCHMARK(BM_DspHighScores);

// Ten virtual minutes of the attract mode, start-up included.
void BM_AttractTenMinutes(benchmark::State& state) {
  for (auto _ : state) {
    HeadlessOptions o;
    o.runMs = 600000;
    const StartedGame s(o);
    benchmark::DoNotOptimize(s.game.ballDir);
  }
  state.SetLabel("virtual 600 s per iteration");
}
BENCHMARK(BM_AttractTenMinutes)->Unit(benchmark::kMillisecond)->Iterations(3);

// F12 at 8x (2552 x 1912) and 25x (7975 x 5975, on an 8000 x 6000 window), the text roll on
// the screen. The time measured is the window thread's, which hands the picture over; the
// writer's time to the complete file and the file's size are the counters. "Packed as before"
// is the way the window thread itself used to pack it, as tightly as zlib can.
Frame RollFrame() {
  StartedGame s;
  Surface& form = RallexProbe::form(s.game);
  const auto& lines = RallexProbe::textLines(s.game);
  form.Cls();
  s.game.Update();
  form.CurrentY = 30;
  for (int i = 1; i <= 11; ++i) {
    form.CurrentX = lines[i].x;
    form.Print(lines[i].text);
  }
  Frame f;
  f.indices.assign(form.Indices().begin(), form.Indices().end());
  f.palette = form.Palette();
  return f;
}

void BM_ScreenshotF12(benchmark::State& state) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "qr-bench-screenshots";
  const Frame frame = RollFrame();
  const int scale = static_cast<int>(state.range(0));
  double writtenMs = 0;
  std::uintmax_t bytes = 0;
  ScreenshotWriter writer([&](const std::string& path, const std::string&) {
    std::error_code ec;
    bytes = std::filesystem::file_size(path, ec);
    std::filesystem::remove(path, ec);
  });
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    writer.Save(dir.string() + "/", frame, scale, std::tm{});
    const auto handedOver = std::chrono::steady_clock::now();
    writer.Finish();
    state.SetIterationTime(std::chrono::duration<double>(handedOver - start).count());
    writtenMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["written_ms"] = writtenMs / static_cast<double>(state.iterations());
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ScreenshotF12)->Arg(8)->Arg(25)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ScreenshotPackedAsBefore(benchmark::State& state) {
  const std::string path = (std::filesystem::temp_directory_path() / "qr-bench-screenshot.png").string();
  const std::vector<std::uint32_t> rgb = RollFrame().ToRgb();
  std::string error;
  for (auto _ : state)
    WritePng(path, rgb.data(), Surface::kWidth, Surface::kHeight, static_cast<int>(state.range(0)), error);
  std::error_code ec;
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path, ec));
  std::filesystem::remove(path, ec);
}
BENCHMARK(BM_ScreenshotPackedAsBefore)->Arg(8)->Arg(25)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace qr

BENCHMARK_MAIN();

// Speed of the game's hot paths on the headless surface.
#include <benchmark/benchmark.h>

#include "../tests/Probe.hpp"

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
    s.platform.GetAsyncKeyState(27);
    s.platform.GetAsyncKeyState(65);
    s.platform.GetAsyncKeyState(90);
    s.platform.GetAsyncKeyState(186);
    s.platform.GetAsyncKeyState(38);
    s.platform.GetAsyncKeyState(40);
    if (g.p1y0 <= 36 || g.p1y1 >= 204) step = static_cast<std::int16_t>(-step);
    g.MoveP1(step);
    g.MoveP2(static_cast<std::int16_t>(-step));
    const std::int16_t r = g.TickBall();
    if (r == 9 || r == 10) {
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
    HeadlessMachine platform(o);
    frmRallex game(platform);
    try {
      game.Form_Load();
    } catch (const RunEnded&) {
    }
    benchmark::DoNotOptimize(game.ballDir);
  }
  state.SetLabel("virtual 600 s per iteration");
}
BENCHMARK(BM_AttractTenMinutes)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace qr

BENCHMARK_MAIN();

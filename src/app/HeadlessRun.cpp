#include "app/HeadlessRun.hpp"

#include <cstdio>
#include <fstream>

#include "app/frmRallex.hpp"
#include "platform/Png.hpp"
#include "platform/headless/HeadlessHost.hpp"

namespace qr {

int RunHeadless(const Options& options) {
  HeadlessOptions h;
  h.seed = options.seed.value_or(1);
  h.runMs = options.runMs;
  h.dataDir = options.dataDir;
  if (!options.script.empty()) {
    std::ifstream in(options.script);
    if (!in) {
      std::fprintf(stderr, "quillmarsh-rall: cannot read the script %s\n", Printable(options.script).c_str());
      return 2;
    }
    std::string error;
    auto events = ParseScript(in, options.script, error);
    if (!events) {
      std::fprintf(stderr, "quillmarsh-rall: %s\n", error.c_str());
      return 2;
    }
    h.script = std::move(*events);
  }

  HeadlessMachine platform(std::move(h));
  frmRallex game(platform);
  bool exited = false;
  try {
    game.Form_Load();
    exited = true;
  } catch (const RunEnded&) {
  }

  int code = 0;
  if (!options.screenshot.empty()) {
    std::string error;
    if (!WritePng(options.screenshot, platform.surface(), 1, error)) {
      std::fprintf(stderr, "quillmarsh-rall: cannot write the screenshot: %s\n", error.c_str());
      code = 1;
    }
  }
  if (!options.state.empty()) {
    std::ofstream out(options.state, std::ios::binary);
    out << game.StateJson(platform.NowMs(), exited, platform.Sounds());
    out.close();
    if (!out) {
      std::fprintf(stderr, "quillmarsh-rall: cannot write the state to %s\n", options.state.c_str());
      code = 1;
    }
  }
  if (options.stats) {
    std::fprintf(stderr, "virtual %lld ms: MainLoop %lld passes, DemoLoop %lld passes, StartPrompt %lld passes\n",
                 static_cast<long long>(platform.NowMs()), static_cast<long long>(platform.Passes(LoopId::MainLoop)),
                 static_cast<long long>(platform.Passes(LoopId::DemoLoop)),
                 static_cast<long long>(platform.Passes(LoopId::StartPrompt)));
  }
  return code;
}

}  // namespace qr

#include "app/HeadlessRun.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/frmRallex.hpp"
#include "platform/Png.hpp"
#include "platform/headless/HeadlessHost.hpp"

namespace qr {

bool LoadScript(const std::string& path, std::vector<ScriptEvent>& events, RecordingHeader& header) {
  std::error_code ec;
  std::ifstream in(path, std::ios::binary);
  // The name is UTF-8 everywhere (on Windows through the program's code page).
  if (!in || std::filesystem::is_directory(std::u8string(path.begin(), path.end()), ec)) {
    std::fprintf(stderr, "quillmarsh-rall: cannot read the script %s\n", Printable(path).c_str());
    return false;
  }
  // Read whole (the script's own limit, and one byte more to see it exceeded), then parsed.
  std::string text(static_cast<std::size_t>(kScriptMaxBytes) + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) {
    std::fprintf(stderr, "quillmarsh-rall: %s: cannot be read\n", Printable(path).c_str());
    return false;
  }
  text.resize(static_cast<std::size_t>(in.gcount()));
  std::istringstream words(text);
  std::string error;
  auto parsed = ParseScript(words, path, error);
  if (!parsed) {
    std::fprintf(stderr, "quillmarsh-rall: %s\n", error.c_str());
    return false;
  }
  events = std::move(*parsed);
  header = ParseRecordingHeader(text);
  return true;
}

std::FILE* OpenRecord(const std::string& path) {
  if (path.empty()) return nullptr;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr)
    std::fprintf(stderr, "quillmarsh-rall: cannot write the recording to %s\n", Printable(path).c_str());
  return out;
}

int WriteEndOfRun(const Options& options, const Machine& machine, const frmRallex& game, bool exited) {
  int code = 0;
  if (!options.screenshot.empty()) {
    std::string error;
    if (!WritePng(options.screenshot, machine.surface(), 1, error)) {
      std::fprintf(stderr, "quillmarsh-rall: cannot write the screenshot: %s\n", error.c_str());
      code = 1;
    }
  }
  if (!options.state.empty()) {
    std::ofstream out(options.state, std::ios::binary);
    out << game.StateJson(machine.NowMs(), exited, machine.Sounds());
    out.close();
    if (!out) {
      std::fprintf(stderr, "quillmarsh-rall: cannot write the state to %s\n", Printable(options.state).c_str());
      code = 1;
    }
  }
  return code;
}

int RunHeadless(const Options& options) {
  HeadlessOptions h;
  h.runMs = options.runMs;
  h.dataDir = options.dataDir;
  RecordingHeader header;
  if (!options.script.empty() && !LoadScript(options.script, h.script, header)) return 2;
  // A recording brings its seed and the files the game found; --seed still wins.
  h.seed = options.seed.value_or(header.seed.value_or(1));
  h.files = std::move(header.files);

  std::FILE* record = OpenRecord(options.record);
  if (!options.record.empty() && record == nullptr) return 2;
  HeadlessHost host(std::move(h));
  int code = 0;
  {
    Recorder recorder(host, record);
    Machine machine(recorder);
    frmRallex game(machine);
    bool exited = false;
    try {
      game.Form_Load();
      exited = true;
    } catch (const RunEnded&) {
    }
    code = WriteEndOfRun(options, machine, game, exited);
    if (options.stats) {
      std::fprintf(stderr, "virtual %lld ms: MainLoop %lld passes, DemoLoop %lld passes, StartPrompt %lld passes\n",
                   static_cast<long long>(machine.NowMs()), static_cast<long long>(machine.Passes(LoopId::MainLoop)),
                   static_cast<long long>(machine.Passes(LoopId::DemoLoop)),
                   static_cast<long long>(machine.Passes(LoopId::StartPrompt)));
    }
  }
  if (record != nullptr && std::fclose(record) != 0) {
    std::fprintf(stderr, "quillmarsh-rall: cannot write the recording to %s\n", Printable(options.record).c_str());
    code = 1;
  }
  return code;
}

}  // namespace qr

// Reading the headless script and the command line.
#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "hosts/desktop/Options.hpp"
#include "hosts/shared/Script.hpp"

namespace qr {

namespace {

struct Parsed {
  std::optional<std::vector<ScriptEvent>> events;
  std::string error;
};

Parsed Parse(std::istream& in) {
  Parsed p;
  if (auto script = ParseScript(in, "s.txt", p.error)) p.events = std::move(script->events);
  return p;
}

Parsed Parse(const std::string& text) {
  std::istringstream in(text);
  return Parse(in);
}

// An input that never ends: the pattern over and over, as from /dev/zero or a pipe.
class Endless : public std::streambuf {
 public:
  explicit Endless(const std::string& pattern) {
    while (buffer_.size() < 4096) buffer_ += pattern;
    underflow();
  }

 protected:
  int_type underflow() override {
    setg(buffer_.data(), buffer_.data(), buffer_.data() + buffer_.size());
    return traits_type::to_int_type(buffer_[0]);
  }

 private:
  std::string buffer_;
};

std::optional<Options> ParseArgs(std::vector<const char*> args, std::string& error) {
  args.insert(args.begin(), "quillmarsh-rall");
  return ParseOptions(static_cast<int>(args.size()), args.data(), error);
}

}  // namespace

TEST(Script, ReadsEventsCommentsAndBlankLines) {
  const Parsed p = Parse(
      "\xEF\xBB\xBF# a game of one player\n"  // after a byte-order mark
      "\n"
      "0 tap Q   # a coin\n"
      "   \t\n"
      "250 tap 1\n"
      "3000 DOWN a\r\n"
      "3000 up A\n"
      "3400 tap vk:186\n"
      "3400 tap Semicolon\n"
      "5000 Focus-Lost\n"
      "6000 close");
  ASSERT_TRUE(p.events) << p.error;
  const auto& e = *p.events;
  ASSERT_EQ(e.size(), 8u);
  EXPECT_EQ(e[0].ms, 0);
  EXPECT_EQ(e[0].action, ScriptEvent::Action::Tap);
  EXPECT_EQ(e[0].vk, 81);
  EXPECT_EQ(e[0].line, 3);
  EXPECT_EQ(e[1].vk, 49);
  EXPECT_EQ(e[2].action, ScriptEvent::Action::Down);
  EXPECT_EQ(e[2].vk, 65);
  EXPECT_EQ(e[3].action, ScriptEvent::Action::Up);
  EXPECT_EQ(e[4].vk, 186);
  EXPECT_EQ(e[5].vk, 186);
  EXPECT_EQ(e[6].action, ScriptEvent::Action::FocusLost);
  EXPECT_EQ(e[6].ms, 5000);
  EXPECT_EQ(e[7].action, ScriptEvent::Action::Close);
  EXPECT_EQ(e[7].line, 11);

  const Parsed empty = Parse("");
  ASSERT_TRUE(empty.events);
  EXPECT_TRUE(empty.events->empty());
}

TEST(Script, KeyNames) {
  // The case does not matter; Escape is Esc.
  const std::pair<const char*, int> known[] = {
      {"Esc", 27},  {"esc", 27},   {"ESCAPE", 27}, {"Escape", 27}, {"Enter", 13},      {"Backspace", 8}, {"Space", 32},
      {"Left", 37}, {"Right", 39}, {"Up", 38},     {"down", 40},   {"SemiColon", 186}, {"A", 65},        {"a", 65},
      {"z", 90},    {"0", 48},     {"9", 57},      {"vk:1", 1},    {"VK:255", 255},    {"vk:112", 112}};
  for (auto [name, vk] : known) EXPECT_EQ(KeyNameToVk(name), vk) << name;
  for (const char* name :
       {"", "AB", "Escp", "vk:", "vk:0", "vk:256", "vk:-1", "vk:1x", "vk:+5", "F1", "!", "10", "\xC3\xA9"})
    EXPECT_EQ(KeyNameToVk(name), 0) << name;

  // Every key is written under a name that reads back as the same key; a named key under its
  // first name.
  for (int vk = 1; vk <= 255; ++vk) EXPECT_EQ(KeyNameToVk(VkToKeyName(vk)), vk) << vk << " " << VkToKeyName(vk);
  EXPECT_EQ(VkToKeyName(27), "Esc");
  EXPECT_EQ(VkToKeyName(186), "Semicolon");
  EXPECT_EQ(VkToKeyName('Q'), "Q");
  EXPECT_EQ(VkToKeyName(112), "vk:112");
}

// A recording is written line for line as the recordings kept so far, and reads back as written.
TEST(Script, RecordingsAreWrittenAsBeforeAndReadBack) {
  RecordingWriter writer("1.2.3", "2026-12-08 12:30:41 UTC");
  writer.Seed(18446744073709551615u);
  LoadedFile table;
  table.status = LoadedFile::Status::Ok;
  table.bytes = std::string(
      "\x00\xFF"
      "AB",
      4);
  writer.FileAtStart("T.dat", table);
  writer.FileAtStart("Gone.dat", LoadedFile{});
  writer.Event(0, InputEvent{InputEvent::Kind::Tap, 'Q'});
  writer.Event(10, InputEvent{InputEvent::Kind::Down, 27});
  writer.Event(10, InputEvent{InputEvent::Kind::Up, 112});
  writer.FileAgain(15, "T.dat", LoadedFile{LoadedFile::Status::Unreadable, "", "gone bad"});
  writer.Event(20, InputEvent{InputEvent::Kind::FocusLost, 0});
  writer.Event(30, InputEvent{InputEvent::Kind::Close, 0});
  LoadedFile big;
  big.status = LoadedFile::Status::Ok;
  big.bytes = std::string(1500, 'x');  // only its first 1024 bytes are kept
  writer.FileAgain(40, "T.dat", big);
  std::string hex;
  for (int i = 0; i < 1024; ++i) hex += "78";
  const std::string expected =
      "0 tap Q\n10 down Esc\n10 up vk:112\n15 file T.dat unreadable\n20 focus-lost\n"
      "30 close\n40 file T.dat hex " +
      hex + "\n";
  const std::string header =
      "# quillmarsh-rall recording: <game ms> down|up|tap <key>, <game ms> focus-lost|close\n"
      "# format 2\n# rules 1\n# version 1.2.3\n# started 2026-12-08 12:30:41 UTC\n"
      "# seed 18446744073709551615\n# file T.dat hex 00ff4142\n# file Gone.dat missing\n";
  EXPECT_EQ(writer.Text(), header + expected);
  EXPECT_EQ(writer.Text(7000), header + "# game 7000\n" + expected);

  std::string error;
  const auto read = ParseScript(writer.Text(7000), "r", error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(read->header.seed, 18446744073709551615u);
  EXPECT_EQ(read->header.gameStartMs, 7000);
  EXPECT_EQ(read->header.files.at("T.dat").bytes, table.bytes);
  EXPECT_EQ(read->header.files.at("Gone.dat").status, LoadedFile::Status::Missing);
  ASSERT_EQ(read->header.loads.size(), 2u);
  EXPECT_EQ(read->header.loads[0].ms, 15);
  EXPECT_EQ(read->header.loads[0].file.status, LoadedFile::Status::Unreadable);
  EXPECT_EQ(read->header.loads[1].file.bytes, std::string(1024, 'x'));
  std::vector<InputEvent> events;
  for (const ScriptEvent& e : read->events) events.push_back(InputEvent{e.action, e.vk});
  const std::vector<InputEvent> written = {{InputEvent::Kind::Tap, 'Q'},
                                           {InputEvent::Kind::Down, 27},
                                           {InputEvent::Kind::Up, 112},
                                           {InputEvent::Kind::FocusLost, 0},
                                           {InputEvent::Kind::Close, 0}};
  EXPECT_EQ(events, written);
}

TEST(Script, MalformedLinesAreNamed) {
  struct Case {
    std::string text;
    const char* where;
  };
  const Case cases[] = {
      {std::string(4097, 'x') + "\n", "s.txt:1: too long"},
      {"0 tap A\n" + std::string(5000, '\0'), "s.txt:2: too long"},  // no line end at all
      {"0 tap A\n10 tap B\n5 tap C\n", "s.txt:3:"},                  // time going backwards
      {"0 tap A\n\n# x\nabc tap A\n", "s.txt:4:"},                   // not a time
      {"-5 tap A\n", "s.txt:1:"},
      {"5.5 tap A\n", "s.txt:1:"},
      {"99999999999999999999999 tap A\n", "s.txt:1:"},
      {"0 press A\n", "s.txt:1:"},  // unknown action
      {"0 tap\n", "s.txt:1:"},      // key missing
      {"0\n", "s.txt:1:"},          // action missing
      {"0 tap F1\n", "s.txt:1:"},   // unknown key
      {"0 tap vk:300\n", "s.txt:1:"},
      {"0 tap A B\n", "s.txt:1:"},               // one key only
      {"0 up A\n1 focus-lost A\n", "s.txt:2:"},  // a key where none belongs
      {"0 close Esc\n", "s.txt:1:"},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.text);
    EXPECT_FALSE(p.events) << c.text;
    EXPECT_EQ(p.error.rfind(c.where, 0), 0u) << c.text << " -> " << p.error;
  }
  // Equal times are fine, and a line of just the longest length.
  EXPECT_TRUE(Parse("7 down A\n7 up A\n7 tap A\n").events);
  EXPECT_TRUE(Parse("7 tap A" + std::string(4096 - 7, ' ') + "\n").events);

  // A word from the script is shown escaped and cut short; an unknown name lists the valid ones.
  std::string error =
      Parse("0 tap " + std::string(10, '\x1B') + std::string("\0\xFF", 2) + std::string(3000, 'k') + "\n").error;
  EXPECT_EQ(error.rfind("s.txt:1: unknown key '\\x1B\\x1B", 0), 0u) << error;
  EXPECT_NE(error.find("... (3012 bytes) (keys: Esc (or Escape), Enter,"), std::string::npos) << error;
  EXPECT_LT(error.size(), 300u);
  for (char c : error) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << error;
  error = Parse("0 Press A\n").error;
  EXPECT_EQ(error, "s.txt:1: unknown action 'Press' (actions: down, up, tap, focus-lost, close)");
}

TEST(Script, EndlessInputEndsWithAMessage) {
  const std::pair<std::string, std::string> cases[] = {
      {std::string(1, '\0'), "s.txt:1: too long (more than 4096 bytes)"},  // /dev/zero
      {"#" + std::string(4094, 'x') + "\n", "s.txt:4097: the script is longer than 16 MiB"},
      {"0 tap A\n", "s.txt:1000001: more than 1000000 events"},
  };
  for (const auto& [pattern, message] : cases) {
    Endless source(pattern);
    std::istream in(&source);
    const Parsed p = Parse(in);
    EXPECT_FALSE(p.events);
    EXPECT_EQ(p.error, message);
  }
}

TEST(Options, HeadlessFlags) {
  std::string error;
  auto o = ParseArgs({"--headless", "--seed", "42", "--script", "s.txt", "--run-ms", "1000", "--screenshot", "a.png",
                      "--state", "a.json", "--data-dir", "/tmp/d"},
                     error);
  ASSERT_TRUE(o) << error;
  EXPECT_TRUE(o->headless);
  EXPECT_EQ(o->seed, 42u);
  EXPECT_EQ(o->script, "s.txt");
  EXPECT_EQ(o->runMs, 1000);
  EXPECT_EQ(o->screenshot, "a.png");
  EXPECT_EQ(o->state, "a.json");
  EXPECT_EQ(o->dataDir, "/tmp/d");

  o = ParseArgs({"--headless"}, error);
  ASSERT_TRUE(o);
  EXPECT_FALSE(o->seed.has_value());  // the headless run then uses seed 1
  EXPECT_EQ(o->runMs, 600000);
  EXPECT_TRUE(o->dataDir.empty());
  EXPECT_TRUE(o->screenshot.empty());

  o = ParseArgs({"--headless", "--run-ms", "0", "--seed", "18446744073709551615"}, error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->runMs, 0);
  EXPECT_EQ(o->seed, 18446744073709551615u);

  o = ParseArgs({"--headless", "--online", "https://rall.example:8443/base/", "--script", "s.txt"}, error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->online, "https://rall.example:8443/base/");
  o = ParseArgs({"--server", "http://127.0.0.1:8080", "--submit", "ranked/7.txt"}, error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->submit, "ranked/7.txt");
  EXPECT_EQ(o->server, "http://127.0.0.1:8080");

  o = ParseArgs({"--help", "--headless", "--scale", "3"}, error);
  ASSERT_TRUE(o);
  EXPECT_TRUE(o->help);
}

TEST(Options, WrongFlagsAreNamed) {
  struct Case {
    std::vector<const char*> args;
    const char* named;
  };
  const Case cases[] = {
      {{"--headless", "--bogus"}, "--bogus"},
      {{"--headless", "-x"}, "-x"},
      {{"--headless", "--seed"}, "--seed"},
      {{"--headless", "--seed", "abc"}, "--seed"},
      {{"--headless", "--seed", "-1"}, "--seed"},
      {{"--headless", "--seed", "12abc"}, "--seed"},
      {{"--headless", "--run-ms", "-5"}, "--run-ms"},
      {{"--headless", "--run-ms", "1e3"}, "--run-ms"},
      {{"--headless", "--run-ms"}, "--run-ms"},
      {{"--headless", "--script"}, "--script"},
      {{"--headless", "--script", ""}, "--script"},
      {{"--headless", "--state"}, "--state"},
      {{"--headless", "--screenshot", ""}, "--screenshot"},
      {{"--headless", "--data-dir", ""}, "--data-dir"},
      {{"--run-ms", "10"}, "--run-ms"},  // headless only
      {{"--script", "a.txt"}, "--script"},
      {{"--headless", "--replay", "r.txt"}, "--replay"},  // window only
      {{"--headless", "--scale", "2"}, "--scale"},        // window only
      {{"--headless", "--fullscreen"}, "--fullscreen"},
      {{"--headless", "--pause-when-unfocused"}, "--pause-when-unfocused"},  // no focus to lose
      {{"--scale", "9"}, "--scale"},
      {{"--headless", "--seed", "\x1B[2J\x07"}, "--seed wants a whole number, not '\\x1B[2J\\x07'"},
      {{"--online", "ftp://example.org/"}, "--online"},  // http and https only
      {{"--online", "http://"}, "--online"},
      {{"--online", "http://a", "--online", "http://b"}, "--online"},
      {{"--online", "http://a", "--seed", "3"}, "--online"},  // the server gives the seed
      {{"--online", "http://a", "--replay", "r.txt"}, "--online"},
      {{"--submit", "f.txt"}, "--server"},
      {{"--server", "http://a"}, "--submit"},
      {{"--submit", "f.txt", "--server", "http://a", "--headless"}, "--submit"},
      {{"--submit", "f.txt", "--server", "file:///etc/passwd"}, "--server"},
      {{"--spectate", "ABCDEF"}, "--server"},
      {{"--spectate", "ABCDEF", "--join", "ABCDEF", "--server", "http://a"}, "--spectate"},
      {{"--spectate", "ABCDEF", "--server", "http://a", "--seed", "3"}, "--seed"},  // the host's seed
      {{"--spectate", "ABCDEF", "--server", "http://a", "--replay", "r.txt"}, "--replay"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseArgs(c.args, error)) << c.named;
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
    for (char ch : error) EXPECT_TRUE(ch >= 0x20 && ch < 0x7F) << error;
  }
}

TEST(Options, UsageCoversBothModes) {
  const std::string usage = UsageText();
  for (const char* flag :
       {"--headless", "--seed", "--script", "--run-ms", "--screenshot", "--state", "--data-dir", "--help", "--scale",
        "--pause-when-unfocused", "--online", "--submit", "--server", "--spectate"})
    EXPECT_NE(usage.find(flag), std::string::npos) << flag;

  // Losing the focus ends the game unless asked otherwise, in a game and in a replay alike.
  std::string error;
  auto o = ParseArgs({"--scale", "2"}, error);
  ASSERT_TRUE(o) << error;
  EXPECT_FALSE(o->pauseWhenUnfocused);
  o = ParseArgs({"--pause-when-unfocused", "--replay", "r.txt"}, error);
  ASSERT_TRUE(o) << error;
  EXPECT_TRUE(o->pauseWhenUnfocused);
  EXPECT_EQ(o->replay, "r.txt");
}

}  // namespace qr

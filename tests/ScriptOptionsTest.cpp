// Reading the headless script and the command line.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/Options.hpp"
#include "platform/headless/Script.hpp"

namespace qr {

namespace {

struct Parsed {
  std::optional<std::vector<ScriptEvent>> events;
  std::string error;
};

Parsed Parse(const std::string& text) {
  std::istringstream in(text);
  Parsed p;
  p.events = ParseScript(in, "s.txt", p.error);
  return p;
}

std::optional<Options> ParseArgs(std::vector<const char*> args, std::string& error) {
  args.insert(args.begin(), "quillmarsh-rall");
  return ParseOptions(static_cast<int>(args.size()), args.data(), error);
}

}  // namespace

TEST(Script, ReadsEventsCommentsAndBlankLines) {
  const Parsed p = Parse(
      "# a game of one player\n"
      "\n"
      "0 tap Q   # a coin\n"
      "   \t\n"
      "250 tap 1\n"
      "3000 down A\r\n"
      "3000 up A\n"
      "3400 tap vk:186\n"
      "3400 tap Semicolon\n"
      "5000 focus-lost\n"
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
  const std::pair<const char*, int> known[] = {{"Esc", 27},        {"Enter", 13}, {"Backspace", 8}, {"Space", 32},
                                               {"Left", 37},       {"Right", 39}, {"Up", 38},       {"Down", 40},
                                               {"Semicolon", 186}, {"A", 65},     {"Z", 90},        {"0", 48},
                                               {"9", 57},          {"vk:1", 1},   {"vk:255", 255},  {"vk:112", 112}};
  for (auto [name, vk] : known) EXPECT_EQ(KeyNameToVk(name), vk) << name;
  for (const char* name : {"", "a", "esc", "AB", "vk:", "vk:0", "vk:256", "vk:-1", "vk:1x", "vk:+5", "F1", "!", "10"})
    EXPECT_EQ(KeyNameToVk(name), 0) << name;
}

TEST(Script, MalformedLinesAreNamed) {
  struct Case {
    const char* text;
    const char* where;
  };
  const Case cases[] = {
      {"0 tap A\n10 tap B\n5 tap C\n", "s.txt:3:"},  // time going backwards
      {"0 tap A\n\n# x\nabc tap A\n", "s.txt:4:"},   // not a time
      {"-5 tap A\n", "s.txt:1:"},
      {"5.5 tap A\n", "s.txt:1:"},
      {"99999999999999999999999 tap A\n", "s.txt:1:"},
      {"0 press A\n", "s.txt:1:"},  // unknown action
      {"0 tap\n", "s.txt:1:"},      // key missing
      {"0\n", "s.txt:1:"},          // action missing
      {"0 tap a\n", "s.txt:1:"},    // unknown key
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
  // Equal times are fine.
  EXPECT_TRUE(Parse("7 down A\n7 up A\n7 tap A\n").events);
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
      {{"--state", "a.json"}, "--state"},
      {{"--headless", "--scale", "2"}, "--scale"},  // window only
      {{"--headless", "--fullscreen"}, "--fullscreen"},
      {{"--scale", "9"}, "--scale"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseArgs(c.args, error)) << c.named;
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
  }
}

TEST(Options, UsageCoversBothModes) {
  const std::string usage = UsageText();
  for (const char* flag :
       {"--headless", "--seed", "--script", "--run-ms", "--screenshot", "--state", "--data-dir", "--help", "--scale"})
    EXPECT_NE(usage.find(flag), std::string::npos) << flag;
}

}  // namespace qr

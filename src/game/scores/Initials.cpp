#include <algorithm>

#include "game/app/frmRallex.hpp"
#include "machine/VirtualKeys.hpp"

namespace qr {

namespace {

// A final score as a table holds it: 16 bits, so anything above 32767 is kept as 32767.
std::int16_t TableScore(std::int32_t score) { return static_cast<std::int16_t>(std::clamp(score, 0, kHiScoreMax)); }

}  // namespace

// At the end of a game: the first entry of the table that the final score beats asks for the
// player's initials and is replaced by the new entry; nothing below it moves. Then the high
// scores are shown and saved.
void frmRallex::CheckForHighScore() {
  enteredInitials = "";
  std::int32_t candidate = p1Score;
  std::int32_t other = p2Score;
  std::int16_t player = 1;
  if (numPlayers != 1 && p1Score <= p2Score) {
    candidate = p2Score;
    other = p1Score;
    player = 2;
  }

  std::int16_t entry = 0;
  for (hiScorePause = 1; hiScorePause <= 5; ++hiScorePause) {
    const int i = hiScorePause;
    // Compared as the 32-bit score, so that a score above the table's range still counts.
    const std::int32_t entryScore = numPlayers == 1 ? hiScores[i].score : hiScores2P[i].score;
    if (candidate <= entryScore) continue;
    GetInitials(player);
    if (exitRequested) return;
    if (enteredInitials.empty()) continue;  // timed out: the next entry beaten asks again
    if (numPlayers == 1) {
      hiScores[i] = HiScore{enteredInitials, TableScore(candidate)};
    } else {
      hiScores2P[i] = HiScore2P{enteredInitials, TableScore(candidate), TableScore(other)};
    }
    entry = hiScorePause;
    break;
  }

  if (enteredInitials.empty()) return;
  // Saved before it is shown: should another game have saved the tables meanwhile, the new
  // entry takes its place in them, and the screen shows the tables as saved.
  KeepNewEntry(entry);
  form.Cls();
  Update();
  DspHighScores();
  for (hiScorePause = 1; hiScorePause <= 400; ++hiScorePause) {
    DoEvents();
    Sleep(slp);
    if (GetAsyncKeyState(vk::kEsc) != 0) {
      exitRequested = true;
      return;
    }
    if (exitRequested) return;  // the window lost the focus
  }
}

// The entry screen: three characters typed as key codes 32 to 96, confirmed with Enter.
// enteredInitials ends with the three characters, or "" when nobody typed for 6000 passes.
void frmRallex::GetInitials(std::int16_t player) {
  // The final scores stay on the score line across the reset of the playfield; they are kept
  // whole (32 bits), so that a score beyond the tables' range comes back unchanged.
  savedP1Score = p1Score;
  savedP2Score = p2Score;
  InitVariables();
  p1Score = savedP1Score;
  p2Score = savedP2Score;
  paddles = 0;

  form.Cls();
  Update();
  msgLines[3] = "High Score !";
  msgLines[4] = "";
  msgLines[5] = "Player " + std::to_string(player) + " Enter Your Initials";
  message(3, 3, kTrue);
  ClearKeys();

  enteredInitials = "";
  lastKeyCode = 0;
  letterCount = 0;
  entryDone = false;
  creditLock = true;
  idlePasses = 0;

  // While the loop runs, the game takes typed characters (however it ends).
  struct TextEntry {
    Machine& machine;
    explicit TextEntry(Machine& m) : machine(m) { machine.TextEntry(true); }
    ~TextEntry() { machine.TextEntry(false); }
    TextEntry(const TextEntry&) = delete;
    TextEntry& operator=(const TextEntry&) = delete;
  } textEntry(machine_);
  while (idlePasses < 6000 && !entryDone) {
    machine_.CountPass(LoopId::GetInitials);
    ++idlePasses;
    if (lastKeyCode != 0) idlePasses = 0;

    if (lastKeyCode == vk::kBackspace || lastKeyCode == vk::kLeft) {  // take back a character
      if (letterCount > 0) {
        --letterCount;
        cursorX = static_cast<std::int16_t>(135 + 15 * letterCount);
        form.ForeColor(kBlack);
        form.CurrentX = cursorX;
        form.CurrentY = 135;
        form.Print(enteredInitials.substr(static_cast<std::size_t>(letterCount), 1));
        form.CurrentX = 180;
        form.CurrentY = 135;
        form.Print("[Enter]");
        form.ForeColor(kSilver);
        enteredInitials.resize(static_cast<std::size_t>(letterCount));
      }
      lastKeyCode = 0;
    }

    cursorX = static_cast<std::int16_t>(135 + 15 * letterCount);
    form.Line(135, 155, 200, 155, kBlack);
    form.Line(cursorX, 155, cursorX + 10, 155);

    if (lastKeyCode == vk::kRight) lastKeyCode = vk::kSpace;  // Right: a blank

    if (letterCount >= 3) {
      form.CurrentX = 180;
      form.CurrentY = 135;
      form.Print("[Enter]");
      if (lastKeyCode == vk::kEnter) entryDone = true;
    } else if (lastKeyCode >= 32 && lastKeyCode <= 96) {
      const std::string character(1, static_cast<char>(lastKeyCode));
      enteredInitials += character;
      ++letterCount;
      form.CurrentX = cursorX;
      form.CurrentY = 135;
      form.Print(character);
      lastKeyCode = 0;
    }

    DoEvents();
    Sleep(slp);
    if (GetAsyncKeyState(vk::kEsc) != 0 || exitRequested) {  // Esc, or the window lost the focus
      exitRequested = true;
      creditLock = false;
      return;
    }
  }

  if (!entryDone) enteredInitials = "";
  creditLock = false;
}

}  // namespace qr

#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "game/app/Rallex.hpp"
#include "game/app/Random.hpp"
#include "game/scores/HiScoreRecord.hpp"
#include "machine/Machine.hpp"

namespace qr {

struct EntryOutcome;

// Boolean values as the game passes them in 16-bit arguments.
constexpr std::int16_t kTrue = -1;
constexpr std::int16_t kFalse = 0;

// The drawing colours: silver for everything drawn, black to erase it.
constexpr std::uint32_t kSilver = 0xC0C0C0;
constexpr std::uint32_t kBlack = 0x000000;

struct TextLine {
  std::string text;
  std::int16_t x = 0;
};

struct StepPair {
  std::int16_t dx = 0;  // size of the horizontal step
  std::int16_t dy = 0;  // vertical step, negative upwards
};

// The game window: it owns the whole game state and every procedure of the game. Its member
// functions live in app/ (start-up and keys), rally/, match/, scores/ and attract/.
class frmRallex : public WindowEvents {
 public:
  explicit frmRallex(Machine& machine);

  // ---- Public game state, in declaration order ----
  bool movingBall = false;               // the ball is in play in a game
  bool missedBall = false;               // the ball has passed a paddle
  bool waitForServe = false;             // the game waits for the server
  std::int16_t waitForServeTimeout = 0;  // passes left before the serve happens by itself
  std::int16_t credits = 0;              // coins deposited and not yet spent
  std::int16_t numPlayers = 0;           // 0 in the attract mode, 1 or 2 in a game
  std::int16_t paddles = 0;              // one-player game: paddles (lives) left
  bool endGame = false;                  // the current game is to end
  std::int32_t p1Score = 0;
  std::int16_t p1Center = 0;
  std::int16_t p1x0 = 0;
  std::int16_t p1y0 = 0;
  std::int16_t p1x1 = 0;
  std::int16_t p1y1 = 0;
  std::int16_t p1Bonus = 0;  // one-player game: the bonus awarded next
  std::int32_t p2Score = 0;
  std::int16_t p2Center = 0;
  std::int16_t p2x0 = 0;
  std::int16_t p2y0 = 0;
  std::int16_t p2x1 = 0;
  std::int16_t p2y1 = 0;
  std::int16_t pSpeed = 0;    // paddle step per move
  std::int16_t pHitOfs = 0;   // rebound zone 1-6 of the last paddle hit
  std::int16_t p1Moving = 0;  // last step given to each paddle (negative up)
  std::int16_t p2Moving = 0;
  std::int16_t ballSpeed = 0;  // speed level 1-3
  std::int16_t ballDir = 0;    // +-1..+-6: sign = horizontal sense, magnitude = angle
  std::int16_t infCount = 0;   // successive paddle hits at the same height
  std::int16_t demoLevel = 0;  // attract phase 0-4
  std::int32_t slp = 0;        // ms slept per pass of the game loop and of every wait
  std::int32_t demoSlp = 0;    // ms slept per attract pass in the roll and high-score phases

  // ---- Start-up and keys (app/) ----
  void Form_Load();
  void InitProperties();
  void ClearKeys();
  void Form_KeyDown(std::int16_t KeyCode, std::int16_t Shift) override;
  void Form_LostFocus() override;
  void TimerEvent(TimerId id) override;

  // ---- Rally (rally/) ----
  void MainLoop();
  void Update();
  std::int16_t TickBall();
  std::int16_t CheckBallX(std::int16_t X, std::int16_t Y);
  std::int16_t CheckBallY(std::int16_t X, std::int16_t Y);
  std::int16_t InverseDir(std::int16_t dir);
  void CheckInfiniteLeft(std::int16_t Y);
  void CheckInfiniteRight(std::int16_t Y);
  void Ball(std::int16_t X, std::int16_t Y);
  void SetRandomBallDirStart();
  void MoveP1(std::int16_t Y);
  void MoveP2(std::int16_t Y);

  // ---- Match (match/) ----
  void GetReady();
  void tmrGetReady_Timer();
  void DspServingStatus(std::int16_t playerServing);
  void tmrServe_Timer();
  void TestForServe();
  void ScoreP1();
  void ScoreP2();
  void ScoreP1_1Player();
  void Player1Bonus();
  void DspScore();
  void Restart();
  void InitVariables();
  void GameOver();

  // ---- High scores (scores/) ----
  bool GetHighScores();
  bool SaveHighScores();
  void KeepNewEntry(std::int16_t entry);
  void SaveRecording(std::int16_t entry);
  void DspHighScores();
  void CheckForHighScore();
  void GetInitials(std::int16_t player);

  // ---- Attract mode and front end (attract/) ----
  void DemoLoop();
  void DemoLevels();
  void tmrCredit_Timer();
  void DspCredits();
  void StartPrompt();
  void DspTitle();
  void message(std::int16_t startLine, std::int16_t numLines, std::int16_t centerX);
  void DspInstructions();

 private:
  friend struct RallexProbe;  // tests and tools look inside
  // The game state as JSON, for tests and the comparison of hosts (hosts/shared/StateJson.cpp).
  friend std::string StateJson(const frmRallex& g, std::int64_t timeMs, bool exited,
                               const std::vector<std::string>& sounds);
  // What an initials entry came to, for the rankings (hosts/shared/RankedGame.cpp).
  friend std::optional<EntryOutcome> ConfirmedEntry(const frmRallex& game);

  // Machine calls as the game makes them.
  void DoEvents() { machine_.DoEvents(); }
  void Sleep(std::int32_t ms) { machine_.Sleep(ms); }
  std::int16_t GetAsyncKeyState(int vk) { return machine_.GetAsyncKeyState(vk); }
  // The integer part of n times a random value: 0 .. n - 1.
  std::int16_t RndBelow(int n) { return random_.Below(n); }
  void MovePaddle(std::int16_t Y, std::int16_t& moving, std::int16_t& center, std::int16_t& y0, std::int16_t& y1,
                  std::int16_t x0, std::int16_t x1);
  void CheckInfinite(std::int16_t Y, std::int16_t& lastHitY);
  // The centring rule: x = 155 - (w \ 2), w the rounded TextWidth.
  std::int16_t CenteredX(const std::string& text) const;

  Machine& machine_;
  Surface& form;  // the window's drawing surface
  Timer& tmrCredit;
  Timer& tmrGetReady;
  Timer& tmrServe;
  RallexModule Rallex;
  Random random_;

  // ---- Private shared state ----
  std::array<TextLine, 26> textLines{};
  std::array<std::array<StepPair, 7>, 4> dirStep{};
  std::array<std::int16_t, 10> keys{};
  std::int16_t ballX = 0;
  std::int16_t ballY = 0;
  std::array<std::string, 11> msgLines{};
  std::array<HiScore, 6> hiScores{};
  std::array<HiScore2P, 6> hiScores2P{};
  std::string hiScoreFile;
  // The high-score file as start-up found it: there but unreadable (it is then never replaced
  // during the run), or holding no valid table (its bytes are kept in a copy before the first
  // save replaces it).
  bool hiScoreSaveOff = false;
  bool hiScoreKeepBad = false;
  std::string hiScoreBadBytes;
  // The file as this game last read or wrote it (found: whether it was there), so that a save
  // sees whether another game saved the tables meanwhile.
  bool hiScoreFileFound = false;
  std::string hiScoreFileBytes;
  std::string enteredInitials;
  bool creditLock = false;
  std::int16_t lastKeyCode = 0;
  bool exitRequested = false;

  // ---- Values the procedures keep between calls ----
  // MainLoop
  std::int16_t frameCount = 0;
  std::int16_t speedUpCount = 0;
  std::int16_t aimOfs = 0;
  std::int16_t aimY = 0;
  // TickBall
  std::int16_t newX = 0;
  std::int16_t newY = 0;
  std::int16_t lastLeftHitY = 0;
  std::int16_t lastRightHitY = 0;
  // DspServingStatus
  std::string leadText;
  // DspScore and Player1Bonus
  std::int16_t p1ScoreShown = 0;
  std::int16_t p2ScoreShown = 0;
  std::int16_t p1ScorePrinted = 0;
  std::int16_t p2ScorePrinted = 0;
  bool bonusVisible = false;
  std::int16_t bonusBlinkCount = 0;
  // GameOver
  std::int16_t gameOverTicks = 0;
  // CheckForHighScore and GetInitials
  std::int16_t letterCount = 0;
  std::int16_t cursorX = 0;
  std::int16_t idlePasses = 0;
  bool entryDone = false;
  std::int16_t hiScorePause = 0;
  std::int32_t savedP1Score = 0;
  std::int32_t savedP2Score = 0;
  // DspHighScores
  std::string hiScoreTitle;
  // DemoLoop
  std::int16_t demoEscDown = 0;
  std::int16_t tickResult = 0;
  std::int16_t demoAimOfs = 0;
  std::int16_t demoLastDir = 0;
  std::int16_t demoAimY = 0;
  // DemoLevels
  bool rollActive = false;
  std::int16_t rollTick = 0;
  std::int16_t rollY = 0;
  std::int16_t rollStep = 0;
  std::int16_t rollLine = 0;
  std::int16_t demoCount = 0;
  // DspCredits
  std::int16_t creditsShown = 0;
  // Restart: the game time at which the game in play began (its kept recording marks it)
  std::int64_t gameStartMs = -1;
  // StartPrompt
  std::int16_t promptEscDown = 0;
  std::int16_t key1Down = 0;
  std::int16_t key2Down = 0;
  bool gameStarted = false;
  // message
  std::int16_t msgIndex = 0;
  // DspInstructions
  std::string coinPrompt;
  std::int16_t instrPass = 0;
};

}  // namespace qr

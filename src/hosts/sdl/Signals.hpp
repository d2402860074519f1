#pragma once

namespace qr {

// The signals that ask the program to end: SIGTERM, SIGINT (Ctrl+C in the terminal) and SIGHUP
// (the terminal went away). While a QuitSignals lives, each of them that had its default action
// (not one ignored, as SIGHUP under nohup or SIGINT in a shell's background job) is noted, and
// the window loop turns the first into SDL_QUIT: the window closes as when the player closes it.
// Another signal, a moment after the first, ends the program at once, whatever it is doing.
// (Signals that come together, as a hangup from the terminal and again from the shell, are one.)
//
// SDL must install no handlers of its own (SDL_HINT_NO_SIGNAL_HANDLERS). One at a time. Nothing
// of this on Windows, where SDL turns Ctrl+C into SDL_QUIT itself.
class QuitSignals {
 public:
  QuitSignals();
  ~QuitSignals();  // the actions from before
  QuitSignals(const QuitSignals&) = delete;
  QuitSignals& operator=(const QuitSignals&) = delete;

  // Window thread, at every turn of its loop: posts SDL_QUIT when a signal has come; once.
  // True when it did.
  bool Forward();
  // Whether a signal has come.
  bool Seen() const;

 private:
  bool forwarded_ = false;
};

}  // namespace qr

#pragma once
// The window's offer to send a ranked game (--online) to the rankings server: asked in a box when
// its entry is confirmed, sent on a thread of its own (the window and the game go on), the answer
// told in a box and on stderr. Whatever is not done by the end of the run is said on stderr, with
// the command line that sends the kept game later.
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "hosts/sdl/SdlBackend.hpp"

namespace qr {

class RankedOffer {
 public:
  explicit RankedOffer(std::string server);
  RankedOffer(const RankedOffer&) = delete;
  RankedOffer& operator=(const RankedOffer&) = delete;
  ~RankedOffer() { Close(); }

  // The game thread: the game is kept as path; the window shows the question.
  void Make(const std::string& path, const ShowNotice& show);
  // The end of the game: waits for a sending under way; an offer not answered is said on stderr.
  void Close();

 private:
  // Shared with the window thread, which may answer after the game has ended.
  struct State {
    std::string server;
    std::mutex mutex;
    std::string path;
    bool answered = false;
    bool closed = false;
    std::thread sending;
  };
  static void TellLater(const State& s);
  // The window thread.
  static void Answered(const std::shared_ptr<State>& state, bool yes, const ShowNotice& show);

  std::shared_ptr<State> state_;
};

// The command line that sends a kept ranked game later.
std::string SubmitCommand(const std::string& path, const std::string& server);

}  // namespace qr

#include "hosts/sdl/RankedOffer.hpp"

#include <cstdio>

#include "hosts/desktop/RankingClient.hpp"

namespace qr {

std::string SubmitCommand(const std::string& path, const std::string& server) {
  auto quoted = [](const std::string& s) {
    return s.find_first_of(" \t'\"$`\\") == std::string::npos ? s : "\"" + s + "\"";
  };
  return "quillmarsh-rall --submit " + quoted(path) + " --server " + quoted(server);
}

RankedOffer::RankedOffer(std::string server) : state_(std::make_shared<State>()) { state_->server = std::move(server); }

void RankedOffer::Make(const std::string& path, const ShowNotice& show) {
  {
    std::lock_guard lock(state_->mutex);
    state_->path = path;
  }
  WindowNotice notice;
  notice.title = "Quillmarsh Rall: ranked game";
  notice.text =
      "Send this game to the rankings server " + state_->server + "?\n\nIt is kept as " + path + " until it is sent.";
  notice.yes = "Submit";
  notice.no = "Not now";
  notice.answered = [state = state_, show](bool yes) { Answered(state, yes, show); };
  show(std::move(notice));
}

void RankedOffer::Close() {
  std::thread sending;
  {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    sending.swap(state_->sending);
  }
  if (sending.joinable()) sending.join();
  std::lock_guard lock(state_->mutex);
  if (!state_->path.empty() && !state_->answered) {
    state_->answered = true;
    TellLater(*state_);
  }
}

void RankedOffer::TellLater(const State& s) {
  std::fprintf(stderr, "quillmarsh-rall: the ranked game is kept as %s; send it with: %s\n", s.path.c_str(),
               SubmitCommand(s.path, s.server).c_str());
}

void RankedOffer::Answered(const std::shared_ptr<State>& state, bool yes, const ShowNotice& show) {
  std::lock_guard lock(state->mutex);
  if (state->answered) return;
  state->answered = true;
  if (!yes || state->closed) {
    TellLater(*state);
    return;
  }
  state->sending = std::thread([state, show, path = state->path] {
    const Submission sent = SubmitRankedFile(path, state->server);
    std::fprintf(stderr, "quillmarsh-rall: %s\n", sent.message.c_str());
    WindowNotice notice;
    notice.title = sent.code == 0 ? "Quillmarsh Rall: ranked" : "Quillmarsh Rall: not ranked";
    notice.text = sent.message;
    if (sent.code != 0) {
      TellLater(*state);
      notice.text += "\n\nSend it later with:\n" + SubmitCommand(path, state->server);
    }
    notice.yes = "OK";
    show(std::move(notice));
  });
}

}  // namespace qr

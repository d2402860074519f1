#pragma once
// The game's side of a rankings server's API (POST /api/seeds, POST /api/runs) over HTTP or
// HTTPS, with libcurl. Whatever the server answers is checked: a bounded wait, a bounded answer,
// JSON of the expected shape; everything else is one sentence for the player.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qr {

struct IssuedSeed {
  std::string token;  // good for one submission
  std::uint64_t seed = 0;
  std::int64_t expires = 0;  // Unix time
};

struct RankedRun {
  std::int64_t id = 0;
  int mode = 0;
  std::int64_t p1Score = 0;
  std::int64_t p2Score = 0;
  int winner = 0;
  std::string initials;
  std::int64_t place = 0;
};

struct ClientLimits {
  long connectMs = 10000;
  long totalMs = 60000;  // the server replays the game before it answers
  std::size_t maxAnswer = 64 * 1024;
};

// Whether the answer came, and when it did not, whose fault that was.
enum class ClientResult : std::uint8_t {
  Ok,
  Refused,  // the server answered, but not with what was asked for
  Failed,   // no answer: the network, the address, a time-out, an answer too large
};

class RankingClient {
 public:
  // server: the server's address, http:// or https://, with or without a path and a final '/'.
  explicit RankingClient(std::string server, ClientLimits limits = {});

  // A seed for one ranked game.
  ClientResult RequestSeed(IssuedSeed& out, std::string& error) const;
  // Submits a ranked game's recording (without its token line) with its token.
  ClientResult Submit(const std::string& token, const std::string& recording, RankedRun& out, std::string& error) const;

  const std::string& Server() const { return server_; }

 private:
  ClientResult Post(const std::string& path, const std::string& body, long& status, std::string& answer,
                    std::string& error) const;

  std::string server_;
  ClientLimits limits_;
};

// A kept ranked game sent (--submit): the exit code (0 ranked; 1 refused or no answer, the file
// kept; 2 not a file that can be sent) and one sentence for the player. A ranked game's file is
// marked as sent, so that it is not sent twice.
struct Submission {
  int code = 0;
  std::string message;
};
Submission SubmitRankedFile(const std::string& path, const std::string& server, ClientLimits limits = {});

// Once, before any other thread runs: libcurl's global set-up.
void StartNetwork();

}  // namespace qr

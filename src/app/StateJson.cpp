#include <nlohmann/json.hpp>

#include "app/frmRallex.hpp"

namespace qr {

std::string frmRallex::StateJson(std::int64_t timeMs, bool exited, const std::vector<std::string>& sounds) const {
  nlohmann::ordered_json j;
  j["timeMs"] = timeMs;
  j["exited"] = exited;
  j["movingBall"] = movingBall;
  j["missedBall"] = missedBall;
  j["waitForServe"] = waitForServe;
  j["waitForServeTimeout"] = waitForServeTimeout;
  j["credits"] = credits;
  j["numPlayers"] = numPlayers;
  j["paddles"] = paddles;
  j["endGame"] = endGame;
  j["p1Score"] = p1Score;
  j["p2Score"] = p2Score;
  j["p1Center"] = p1Center;
  j["p2Center"] = p2Center;
  j["p1y0"] = p1y0;
  j["p1y1"] = p1y1;
  j["p2y0"] = p2y0;
  j["p2y1"] = p2y1;
  j["pSpeed"] = pSpeed;
  j["ballSpeed"] = ballSpeed;
  j["ballDir"] = ballDir;
  j["ballX"] = ballX;
  j["ballY"] = ballY;
  j["pHitOfs"] = pHitOfs;
  j["infCount"] = infCount;
  j["demoLevel"] = demoLevel;
  j["creditLock"] = creditLock;
  j["exitRequested"] = exitRequested;
  j["lastKeyCode"] = lastKeyCode;
  j["enteredInitials"] = enteredInitials;
  j["msgLines"] = msgLines;
  auto one = nlohmann::ordered_json::array();
  auto two = nlohmann::ordered_json::array();
  for (int i = 1; i <= 5; ++i) {
    one.push_back({{"initials", hiScores[i].initials}, {"score", hiScores[i].score}});
    two.push_back({{"initials", hiScores2P[i].initials},
                   {"score", hiScores2P[i].score},
                   {"otherScore", hiScores2P[i].otherScore}});
  }
  j["hiScores"] = one;
  j["hiScores2P"] = two;
  j["sounds"] = sounds;
  // Texts the player typed may hold any byte; never fail on them.
  return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace qr

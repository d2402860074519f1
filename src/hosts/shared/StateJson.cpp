#include <nlohmann/json.hpp>

#include "hosts/shared/StateJson.hpp"

namespace qr {

std::string StateJson(const frmRallex& g, std::int64_t timeMs, bool exited, const std::vector<std::string>& sounds) {
  nlohmann::ordered_json j;
  j["timeMs"] = timeMs;
  j["exited"] = exited;
  j["movingBall"] = g.movingBall;
  j["missedBall"] = g.missedBall;
  j["waitForServe"] = g.waitForServe;
  j["waitForServeTimeout"] = g.waitForServeTimeout;
  j["credits"] = g.credits;
  j["numPlayers"] = g.numPlayers;
  j["paddles"] = g.paddles;
  j["endGame"] = g.endGame;
  j["p1Score"] = g.p1Score;
  j["p2Score"] = g.p2Score;
  j["p1Center"] = g.p1Center;
  j["p2Center"] = g.p2Center;
  j["p1y0"] = g.p1y0;
  j["p1y1"] = g.p1y1;
  j["p2y0"] = g.p2y0;
  j["p2y1"] = g.p2y1;
  j["pSpeed"] = g.pSpeed;
  j["ballSpeed"] = g.ballSpeed;
  j["ballDir"] = g.ballDir;
  j["ballX"] = g.ballX;
  j["ballY"] = g.ballY;
  j["pHitOfs"] = g.pHitOfs;
  j["infCount"] = g.infCount;
  j["demoLevel"] = g.demoLevel;
  j["creditLock"] = g.creditLock;
  j["exitRequested"] = g.exitRequested;
  j["lastKeyCode"] = g.lastKeyCode;
  j["enteredInitials"] = g.enteredInitials;
  j["msgLines"] = g.msgLines;
  auto one = nlohmann::ordered_json::array();
  auto two = nlohmann::ordered_json::array();
  for (int i = 1; i <= 5; ++i) {
    one.push_back({{"initials", g.hiScores[i].initials}, {"score", g.hiScores[i].score}});
    two.push_back({{"initials", g.hiScores2P[i].initials},
                   {"score", g.hiScores2P[i].score},
                   {"otherScore", g.hiScores2P[i].otherScore}});
  }
  j["hiScores"] = one;
  j["hiScores2P"] = two;
  j["sounds"] = sounds;
  // Texts the player typed may hold any byte; never fail on them.
  return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace qr

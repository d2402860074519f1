#include <gtest/gtest.h>

#include "Probe.hpp"

namespace qr {

TEST(Harness, StartsTheGameAndStopsAtTheFirstPause) {
  StartedGame s;
  EXPECT_EQ(s.platform.NowMs(), 4);  // phase 0 ran on into the roll, whose passes sleep 4 ms
  EXPECT_EQ(s.game.demoLevel, 1);
  EXPECT_EQ(RallexProbe::dirStep(s.game)[3][1].dx, 5);
  EXPECT_TRUE(s.platform.Shown());
}

}  // namespace qr

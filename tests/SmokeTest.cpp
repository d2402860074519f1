#include <gtest/gtest.h>

#include "app/frmRallex.hpp"
#include "platform/headless/HeadlessPlatform.hpp"

TEST(Smoke, AttractRunsHeadless) {
  qr::HeadlessOptions o;
  o.runMs = 20000;
  qr::HeadlessPlatform platform(o);
  qr::frmRallex game(platform);
  EXPECT_THROW(game.Form_Load(), qr::RunEnded);
}

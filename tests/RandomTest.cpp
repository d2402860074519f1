// The game's random generator: uniform in [0, 1), whole picks in range, the same for a seed.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "game/app/Random.hpp"

namespace qr {

TEST(Random, UniformInTheHalfOpenInterval) {
  Random r(1);
  constexpr int kDraws = 200000;
  constexpr int kBins = 20;
  std::array<int, kBins> bins{};
  double sum = 0;
  for (int i = 0; i < kDraws; ++i) {
    const double u = r.Uniform();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    sum += u;
    ++bins[static_cast<int>(u * kBins)];
  }
  EXPECT_NEAR(sum / kDraws, 0.5, 0.005);
  // Chi-square with 19 degrees of freedom: 43.8 is its 0.1 % point.
  double chi2 = 0;
  const double expected = static_cast<double>(kDraws) / kBins;
  for (int n : bins) chi2 += (n - expected) * (n - expected) / expected;
  EXPECT_LT(chi2, 43.8);
}

TEST(Random, WholePicksCoverTheirRange) {
  Random r(99);
  for (int n : {1, 2, 3, 6, 20, 100}) {
    std::vector<int> seen(n, 0);
    for (int i = 0; i < 2000 * n; ++i) {
      const int v = r.Below(n);
      ASSERT_GE(v, 0) << n;
      ASSERT_LT(v, n) << n;
      ++seen[v];
    }
    for (int v = 0; v < n; ++v) {
      EXPECT_GT(seen[v], 1500) << v << " of " << n;
      EXPECT_LT(seen[v], 2500) << v << " of " << n;
    }
  }
}

TEST(Random, ASeedGivesTheSameSequence) {
  Random a(12345);
  Random b(12345);
  Random c(12346);
  int same = 0;
  for (int i = 0; i < 1000; ++i) {
    const double x = a.Uniform();
    ASSERT_EQ(x, b.Uniform());
    same += x == c.Uniform() ? 1 : 0;
  }
  EXPECT_LT(same, 5);
  // Seeding again starts the sequence over.
  Random d(5);
  const double first = d.Uniform();
  d.Uniform();
  d.Seed(5);
  EXPECT_EQ(d.Uniform(), first);
  // Seed 0 is a seed like any other.
  Random z(0);
  int zeros = 0;
  for (int i = 0; i < 100; ++i) zeros += z.Uniform() == 0.0 ? 1 : 0;
  EXPECT_LT(zeros, 2);
}

}  // namespace qr

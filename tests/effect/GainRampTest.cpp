// The gain loop against a plain per-sample loop, bit for bit: its early switch
// to a plain product must never change a sample or the gain it hands back, and
// at the bounds its landing on the target must change nothing either.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "GainRamp.h"

namespace {

constexpr Float32 kNaN = std::numeric_limits<Float32>::quiet_NaN();

// Every sample scaled by the gain before its step; the step taken unless the
// gain equals the target exactly, landing on the target when it would pass it
// (or, without `land`, only clamped to 0..100).
Float32 Reference(const Float32* source, Float32* destination, UInt32 frames, Float32 volume, Float32 target,
                  Float32 step, bool land) {
  for (UInt32 i = 0; i < frames; ++i) {
    destination[i] =
        static_cast<Float32>(static_cast<double>(source[i]) * (static_cast<double>(volume) / 100.0));
    if (volume == target) continue;
    Float32 next = volume + step;
    if (land && ((step > 0 && next > target) || (step < 0 && next < target))) next = target;
    volume = std::clamp(next, 0.0f, 100.0f);
  }
  return volume;
}

std::uint32_t Bits(Float32 x) {
  std::uint32_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

struct Case {
  Float32 volume, target, step;
};

void ExpectSameAsReference(const std::vector<Float32>& input, const Case& c) {
  const auto frames = static_cast<UInt32>(input.size());
  std::vector<Float32> expected(frames), actual(frames);
  const Float32 expectedVolume = Reference(input.data(), expected.data(), frames, c.volume, c.target, c.step,
                                           !(c.target <= 0.0f || c.target >= 100.0f));
  const Float32 actualVolume =
      varsile::effect::ApplyGainRamp(input.data(), actual.data(), frames, c.volume, c.target, c.step);
  ASSERT_EQ(Bits(actualVolume), Bits(expectedVolume))
      << "volume " << c.volume << " target " << c.target << " step " << c.step;
  for (UInt32 i = 0; i < frames; ++i) {
    ASSERT_EQ(Bits(actual[i]), Bits(expected[i]))
        << "sample " << i << ", volume " << c.volume << " target " << c.target << " step " << c.step;
  }
  // In place gives the same.
  std::vector<Float32> inPlace = input;
  varsile::effect::ApplyGainRamp(inPlace.data(), inPlace.data(), frames, c.volume, c.target, c.step);
  for (UInt32 i = 0; i < frames; ++i)
    ASSERT_EQ(Bits(inPlace[i]), Bits(expected[i])) << "in place, sample " << i;
}

TEST(GainRamp, MatchesThePerSampleLoop) {
  std::mt19937 engine(4);
  std::uniform_real_distribution<Float32> sample(-1.0f, 1.0f);
  std::vector<Float32> input(1000);
  for (Float32& x : input) x = sample(engine);
  input[10] = kNaN;
  input[11] = std::numeric_limits<Float32>::denorm_min();

  // Targets at or beyond the bounds are checked against the plain clamped
  // loop: the landing must leave every full or closed gate as it was.
  const Case cases[] = {
      {50.0f, 50.0f, 0.2f},                                       // on target: a plain product
      {0.0f, 100.0f, 100.0f / 480.0f},                            // rises, meets 100 and holds there
      {100.0f, 0.0f, -100.0f / 441.0f},                           // falls to 0 and holds
      {30.0f, 31.0f, 0.3f},                                       // would pass the target: lands on it
      {80.0f, 20.0f, -0.7f},                                      // the same falling
      {30.0f, 30.5f, 0.25f},                                      // meets the target exactly, then holds
      {99.99f, 100.0f, 1e-6f},                                    // a step too small to move the gain
      {100.0f, 100.0f, 0.5f},                                     // target 100 at 100
      {0.0f, 0.0f, -0.5f},                                        // target 0 at 0
      {40.0f, kNaN, -0.1f},                                       // released toward 0
      {40.0f, 250.0f, 0.3f},                                      // beyond the range: clamped at 100
      {40.0f, -5.0f, -0.3f},                                      // and at 0
      {20.0f, 100.0f, 100.0f / 441000.0f},                        // the longest attack: ramps all block long
      {20.0f, 100.0f, std::numeric_limits<Float32>::infinity()},  // a rate of 0
      {20.0f, 60.0f, std::numeric_limits<Float32>::infinity()},
  };
  for (const Case& c : cases) ExpectSameAsReference(input, c);

  std::uniform_real_distribution<Float32> percent(0.0f, 100.0f);
  std::uniform_real_distribution<Float32> rate(-1.0f, 1.0f);
  for (int i = 0; i < 300; ++i) {
    const Float32 volume = percent(engine);
    const Float32 target = i % 3 == 0 ? volume : percent(engine);
    const UInt32 frames = static_cast<UInt32>(i % 7 == 0 ? 1 : 1 + i * 3);
    ExpectSameAsReference(std::vector<Float32>(input.begin(), input.begin() + std::min<UInt32>(frames, 1000)),
                          {volume, target, (target > volume ? 1.0f : -1.0f) * std::abs(rate(engine))});
  }
}

TEST(GainRamp, NoFramesLeaveTheGainAlone) {
  Float32 none = 0.0f;
  EXPECT_EQ(varsile::effect::ApplyGainRamp(&none, &none, 0, 42.0f, 0.0f, -1.0f), 42.0f);
}

}  // namespace

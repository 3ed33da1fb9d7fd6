#include <gtest/gtest.h>

#include <map>

#include "Scales.h"

namespace {

using varsile::music::FindScale;
using varsile::music::Scale;
using varsile::music::ScaleNames;
using varsile::music::Scales;

std::bitset<12> Rotated(std::bitset<12> scale, int degreeSemitones) {
  std::bitset<12> rotated;
  for (int n = 0; n < 12; ++n) {
    if (scale.test(static_cast<std::size_t>((n + degreeSemitones) % 12)))
      rotated.set(static_cast<std::size_t>(n));
  }
  return rotated;
}

std::bitset<12> Of(std::string_view name) {
  const auto scale = FindScale(name);
  EXPECT_TRUE(scale.has_value()) << name;
  return scale ? scale->semitones : std::bitset<12>{};
}

TEST(Scales, EveryScaleHasTheKeyAndItsSize) {
  const std::map<std::string_view, std::size_t> sizes{{"chromatic", 12},
                                                      {"major", 7},
                                                      {"natural-minor", 7},
                                                      {"harmonic-minor", 7},
                                                      {"melodic-minor", 7},
                                                      {"ionian", 7},
                                                      {"dorian", 7},
                                                      {"phrygian", 7},
                                                      {"lydian", 7},
                                                      {"mixolydian", 7},
                                                      {"aeolian", 7},
                                                      {"locrian", 7},
                                                      {"major-pentatonic", 5},
                                                      {"minor-pentatonic", 5},
                                                      {"blues", 6},
                                                      {"whole-tone", 6}};
  ASSERT_EQ(Scales().size(), sizes.size());
  for (const Scale& scale : Scales()) {
    EXPECT_TRUE(scale.semitones.test(0)) << scale.name;
    EXPECT_EQ(scale.semitones.count(), sizes.at(scale.name)) << scale.name;
  }
}

TEST(Scales, TheChurchModesAreTheMajorScaleFromEachDegree) {
  const std::bitset<12> major = Of("major");
  EXPECT_EQ(Of("ionian"), major);
  EXPECT_EQ(Of("dorian"), Rotated(major, 2));
  EXPECT_EQ(Of("phrygian"), Rotated(major, 4));
  EXPECT_EQ(Of("lydian"), Rotated(major, 5));
  EXPECT_EQ(Of("mixolydian"), Rotated(major, 7));
  EXPECT_EQ(Of("aeolian"), Rotated(major, 9));
  EXPECT_EQ(Of("locrian"), Rotated(major, 11));
  EXPECT_EQ(Of("natural-minor"), Of("aeolian"));
}

TEST(Scales, MinorFormsAndPentatonicsAgreeWithTheirDefinitions) {
  EXPECT_EQ(Of("major"), std::bitset<12>("101010110101"));
  EXPECT_EQ(Of("natural-minor"), std::bitset<12>("010110101101"));
  // Harmonic minor raises the seventh; melodic minor the sixth too.
  EXPECT_EQ(Of("harmonic-minor"), std::bitset<12>("100110101101"));
  EXPECT_EQ(Of("melodic-minor"), std::bitset<12>("101010101101"));
  // The pentatonics leave out the major scale's fourth and seventh, and are
  // rotations of each other.
  EXPECT_EQ(Of("major-pentatonic"), std::bitset<12>("001010010101"));
  EXPECT_EQ(Of("minor-pentatonic"), Rotated(Of("major-pentatonic"), 9));
  // The blues scale: minor pentatonic and the flat fifth.
  EXPECT_EQ(Of("blues"), Of("minor-pentatonic") | std::bitset<12>(1 << 6));
  EXPECT_EQ(Of("whole-tone"), std::bitset<12>("010101010101"));
  EXPECT_EQ(Of("chromatic").count(), 12u);
}

TEST(Scales, NamesAreLooselyMatched) {
  EXPECT_EQ(Of("Harmonic Minor"), Of("harmonic-minor"));
  EXPECT_EQ(Of("whole_tone"), Of("whole-tone"));
  EXPECT_EQ(Of("MAJOR"), Of("major"));
  EXPECT_EQ(Of("minor"), Of("natural-minor"));
  EXPECT_FALSE(FindScale("hungarian").has_value());
  EXPECT_FALSE(FindScale("").has_value());
  EXPECT_EQ(ScaleNames().substr(0, 38), "chromatic, major, natural-minor, harmo");
}

}  // namespace

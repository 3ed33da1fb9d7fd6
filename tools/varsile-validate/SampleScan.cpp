#include "SampleScan.h"

#include <MacTypes.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "Text.h"

namespace varsile::validate {

void SampleStats::Add(std::span<const float> values) {
  samples += values.size();
  // Classified by their bits: a comparison would itself be subject to the
  // floating-point mode that a unit might have left switched on.
  for (float value : values) {
    const UInt32 bits = std::bit_cast<UInt32>(value);
    const UInt32 exponent = (bits >> 23) & 0xFF;
    const UInt32 mantissa = bits & 0x7FFFFF;
    if ((bits & 0x7FFFFFFF) == 0) continue;
    ++nonZero;
    if (exponent == 0xFF) {
      ++(mantissa != 0 ? nans : infinities);
    } else if (exponent == 0) {
      ++subnormals;
    } else {
      peak = std::max(peak, std::fabs(value));
    }
  }
}

void SampleStats::Add(const SampleStats& other) {
  samples += other.samples;
  nans += other.nans;
  infinities += other.infinities;
  subnormals += other.subnormals;
  nonZero += other.nonZero;
  peak = std::max(peak, other.peak);
}

std::string SampleStats::Describe() const {
  std::string text = std::to_string(samples) + " samples, peak " + FloatText(peak);
  if (Silent()) text += " (silent)";
  if (nans != 0) text += ", " + std::to_string(nans) + " NaN";
  if (infinities != 0) text += ", " + std::to_string(infinities) + " infinite";
  if (subnormals != 0) text += ", " + std::to_string(subnormals) + " subnormal";
  return text;
}

}  // namespace varsile::validate

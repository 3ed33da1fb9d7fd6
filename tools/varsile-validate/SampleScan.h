// What a careful host looks for in a unit's output: values that are not
// numbers, infinities and subnormals, besides the level.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace varsile::validate {

struct SampleStats {
  std::size_t samples = 0;
  std::size_t nans = 0;
  std::size_t infinities = 0;
  std::size_t subnormals = 0;
  std::size_t nonZero = 0;
  float peak = 0.0f;  // largest magnitude among the finite samples

  void Add(std::span<const float> samples);
  void Add(const SampleStats& other);
  // No NaN, no infinity, no subnormal.
  bool Clean() const noexcept { return nans == 0 && infinities == 0 && subnormals == 0; }
  bool Silent() const noexcept { return nonZero == 0; }
  // "1024 samples, peak 0.62" and the counts of what is wrong, if anything.
  std::string Describe() const;
};

}  // namespace varsile::validate

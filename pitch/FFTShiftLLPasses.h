// The tracker's element-wise passes over the bins that the vector library
// has no single operation for, each doing in one sweep what a chain of
// vector operations would do in several, with the same roundings in the same
// order. Compiled once per instruction set (FFTShiftLLPasses*.cpp) and picked
// at run time, so the portable build still uses AVX2 or AVX-512 where the
// processor has them; every table gives bit-identical results.
#pragma once

#include <VarsileRealtime.h>

#include <cstdint>

namespace varsile::pitch {

struct PhaseConstants {
  float expectedAdvance;  // radians per hop of bin 1's centre frequency
  float binWidth;         // Hz
  float frequencyFactor;  // Hz per radian of phase deviation
  float a4Frequency;      // divides the frequencies into the quotients
};

constexpr int kClassCount = 12;
// Runs are copied in whole blocks, of kShortRun floats for the many short
// runs and kRunBlock for the rest, so that no run costs a mispredicted loop
// exit; the lists have room for a block's overhang. (Copying every run as one
// big block stores so much that the loads of the next runs keep meeting
// pending stores to addresses alike in their low 12 bits, and wait.)
constexpr long kShortRun = 16;
constexpr long kRunBlock = 64;
constexpr long kListCapacity = 608;
constexpr long kListStride = kListCapacity + kRunBlock;

struct Passes {
  const char* name;

  // For every bin k < bins, from the spectrum (re, im) and its phase:
  //   magnitude[k] = 2 sqrt(re^2 + im^2)
  //   d = wrap(phase[k] - prevPhase[k] - k * expectedAdvance)
  //   frequency[k] = k * binWidth + d * frequencyFactor
  //   quotient[k] = frequency[k] / a4Frequency
  //   prevPhase[k] = phase[k]
  // Outputs must not overlap the inputs, except prevPhase itself.
  void (*phases)(const float* re, const float* im, const float* phase, float* prevPhase, float* magnitude,
                 float* frequency, float* quotient, long bins,
                 const PhaseConstants& constants) VARSILE_NONBLOCKING;

  // For every bin, from the natural logarithm of its quotient: the note value
  // logarithm * twelveOverLn2 + notePlusHalf, and from it the pitch class the
  // bin counts for (0..11, as a float) or -1 when it counts for none; the
  // weight is the magnitude of a counted bin and 0 otherwise. `classes` may
  // be `logarithm` itself. Bit k of runStarts (word k / 64, from the lowest
  // bit) is set where a run of bins of one class begins: at bin 0 and
  // wherever the class differs from the bin before; bits from `bins` on stay
  // clear. runStarts holds (bins + 63) / 64 words.
  void (*classify)(const float* logarithm, const float* frequency, const float* magnitude, float* classes,
                   float* weights, std::uint64_t* runStarts, long bins, float twelveOverLn2,
                   float notePlusHalf) VARSILE_NONBLOCKING;

  // The vote's first half: appends the weights of every run of bins of one
  // class (runStarts as classify marks them; runs of class -1 are left out)
  // to that class's list, lists[j * kListStride ...], in bin order, and
  // leaves each list's length in counts[j]. Entries past a list's length
  // hold anything. False, with the lists unfinished, when a class has more
  // than kListCapacity bins. weights holds weightsLength floats.
  bool (*gatherRuns)(const float* classes, const float* weights, const std::uint64_t* runStarts, long bins,
                     long weightsLength, float* lists, long* counts) VARSILE_NONBLOCKING;

  // The phase wrap alone, in place.
  void (*wrap)(float* d, long n) VARSILE_NONBLOCKING;
};

extern const Passes kPassesSSE2;
extern const Passes kPassesAVX2;
extern const Passes kPassesAVX512;

// The best table for this processor, chosen once; lock-free.
const Passes& ActivePasses() noexcept VARSILE_NONBLOCKING;

}  // namespace varsile::pitch

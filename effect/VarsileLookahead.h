// The gate with lookahead: each channel's tracker hears the incoming audio
// while the gain works on the same audio a fixed delay later, so a decision
// can take effect before the note that caused it comes out. A change that
// closes the gate takes effect at once, the whole delay early; one that opens
// it is moved back to where its note began (the strongest rise of energy in
// the analysed window, or a typical decision lag without one), less the
// ramp's time. The delay is reported as the unit's latency for hosts to
// compensate. Parameters and saved state are the plain gate's.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <array>
#include <cstdint>
#include <vector>

#include "Varsile.h"

class VarsileLookahead : public Varsile {
 public:
  class LookaheadKernel : public VarsileKernel {
   public:
    LookaheadKernel(Varsile* effect, UInt32 delayFrames);

    void Reset() override;
    void Process(const Float32* source, Float32* destination, UInt32 frames, UInt32 channelStride,
                 bool& ioSilence) noexcept VARSILE_NONBLOCKING override;

    static constexpr UInt32 kEnergyBlock = 64;
    // The tracker's window in energy blocks, and a little before it.
    static constexpr std::size_t kEnergyBlocks = (std::size_t{1} << kLog2Size) / kEnergyBlock + 4;
    static constexpr std::size_t kMaxChanges = 64;

   private:
    struct Change {
      std::int64_t at;  // from this frame, counted on the input, the gain heads for target
      Float32 target;
    };

    // One span of at most a hop: decide on it, then gate its delayed frames.
    void ProcessSpan(const Float32* source, Float32* destination, UInt32 frames) noexcept VARSILE_NONBLOCKING;
    void AddEnergy(const Float32* source, UInt32 frames) noexcept VARSILE_NONBLOCKING;
    // Where the note heard at frame `decided` most likely began.
    std::int64_t NoteStart(std::int64_t decided) const noexcept VARSILE_NONBLOCKING;
    void Schedule(std::int64_t decided, Float32 target) noexcept VARSILE_NONBLOCKING;
    void Gate(Float32* samples, UInt32 frames) noexcept VARSILE_NONBLOCKING;

    std::vector<Float32> mDelay;  // a ring; mDelay[mDelayAt] is the oldest sample
    std::size_t mDelayAt = 0;
    std::uint64_t mFrames = 0;  // frames heard since the reset
    // Energy of each block of kEnergyBlock frames, by block number modulo the size.
    std::array<double, kEnergyBlocks> mEnergy{};
    double mEnergyPartial = 0.0;
    // Pending changes, in order of `at`: a ring from mFirstChange.
    std::array<Change, kMaxChanges> mChanges{};
    std::size_t mFirstChange = 0;
    std::size_t mChangeCount = 0;
    Float32 mDecided = 0.0f;  // the target of the last change scheduled
    bool mHaveDecided = false;
    Float32 mTarget = 0.0f;  // the target the gain heads for on the output side
  };

  explicit VarsileLookahead(AudioComponentInstance instance);

  Float64 GetLatency() override;
  AUKernelBase* NewKernel() override;
  // Restores the plain gate's saved states as well as its own, so its
  // presets serve here too.
  OSStatus RestoreState(CFPropertyListRef data) override;

  static constexpr OSType kPlainSubtype = 0x76676174;  // 'vgat'

  // The delay at a sample rate, in frames; none at a rate that is not a
  // positive number.
  static UInt32 DelayFrames(Float64 sampleRate) noexcept;
  static constexpr Float64 kDelaySeconds = 0.075;
};

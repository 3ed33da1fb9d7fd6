#include "VarsileLookahead.h"

#include <algorithm>
#include <cmath>

#include "GainRamp.h"

namespace {

constexpr UInt32 kHop = Varsile::VarsileKernel::kHopFrames;
constexpr std::int64_t kWindow = std::int64_t{1} << Varsile::VarsileKernel::kLog2Size;
// A delay no format should ask for, but one a silly rate must not exceed.
constexpr Float64 kMaxDelayFrames = 1 << 22;
// An onset: the energy of two blocks at least this many times that of the
// two before. Without one, the note is taken to have begun this long before
// the tracker named it (about where its decisions fall on clean tones).
// Both measured on rendered instruments (scripts/gate-quality).
constexpr double kOnsetRatio = 2.0;
constexpr std::int64_t kTypicalLag = 1536;

bool IsNumber(const void* value) noexcept {
  return value != nullptr && CFGetTypeID(value) == CFNumberGetTypeID();
}

bool SameTarget(Float32 a, Float32 b) noexcept {
  return a == b || (std::isnan(a) && std::isnan(b));
}

}  // namespace

VarsileLookahead::LookaheadKernel::LookaheadKernel(Varsile* effect, UInt32 delayFrames)
    : VarsileKernel(effect), mDelay(delayFrames, 0.0f) {
  Reset();
}

void VarsileLookahead::LookaheadKernel::Reset() {
  VarsileKernel::Reset();
  std::fill(mDelay.begin(), mDelay.end(), 0.0f);
  mDelayAt = 0;
  mFrames = 0;
  mEnergy.fill(0.0);
  mEnergyPartial = 0.0;
  mFirstChange = 0;
  mChangeCount = 0;
  mHaveDecided = false;
  mTarget = mVolume.load(std::memory_order_relaxed);
}

void VarsileLookahead::LookaheadKernel::Process(const Float32* source, Float32* destination, UInt32 frames,
                                                UInt32 /*channelStride*/,
                                                bool& /*ioSilence*/) noexcept VARSILE_NONBLOCKING {
  // Split where the tracker completes an analysis (the last frame of every
  // hop since the reset), so that each decision is placed from the frame
  // that made it, whatever the host's block size.
  UInt32 done = 0;
  while (done < frames) {
    const auto toAnalysis = static_cast<UInt32>((kHop - 1 - mFrames % kHop) % kHop);
    const UInt32 span = std::min(frames - done, toAnalysis == 0 ? kHop : toAnalysis);
    ProcessSpan(source + done, destination + done, span);
    done += span;
  }
}

void VarsileLookahead::LookaheadKernel::ProcessSpan(const Float32* source, Float32* destination,
                                                    UInt32 frames) noexcept VARSILE_NONBLOCKING {
  const Float32 target = Decide(source, destination, frames);
  AddEnergy(source, frames);
  if (!mHaveDecided || !SameTarget(target, mDecided)) Schedule(static_cast<std::int64_t>(mFrames), target);

  // The span comes out delayed (without a delay, source is copied as it is);
  // source may be destination, each sample is read before its place is
  // written.
  if (mDelay.empty() && source != destination) std::copy(source, source + frames, destination);
  for (UInt32 i = 0; i < frames && !mDelay.empty(); ++i) {
    const Float32 incoming = source[i];
    destination[i] = mDelay[mDelayAt];
    mDelay[mDelayAt] = incoming;
    if (++mDelayAt == mDelay.size()) mDelayAt = 0;
  }
  Gate(destination, frames);
  mFrames += frames;
}

void VarsileLookahead::LookaheadKernel::AddEnergy(const Float32* source,
                                                  UInt32 frames) noexcept VARSILE_NONBLOCKING {
  for (UInt32 i = 0; i < frames; ++i) {
    mEnergyPartial += static_cast<double>(source[i]) * source[i];
    const std::uint64_t frame = mFrames + i;
    if ((frame + 1) % kEnergyBlock == 0) {
      mEnergy[(frame / kEnergyBlock) % kEnergyBlocks] = mEnergyPartial;
      mEnergyPartial = 0.0;
    }
  }
}

std::int64_t VarsileLookahead::LookaheadKernel::NoteStart(std::int64_t decided) const noexcept
    VARSILE_NONBLOCKING {
  // Blocks whose two predecessors lie in the window of the analysis that
  // decided, and which have a complete successor.
  const std::int64_t complete = static_cast<std::int64_t>(mFrames) / kEnergyBlock;
  const std::int64_t first = std::max<std::int64_t>(2, (decided - kWindow) / kEnergyBlock + 3);
  const std::int64_t last = std::min(complete - 2, decided / kEnergyBlock - 1);
  const auto energy = [this](std::int64_t block) { return mEnergy[block % kEnergyBlocks]; };
  double best = kOnsetRatio;
  std::int64_t start = decided - kTypicalLag;
  for (std::int64_t block = first; block <= last; ++block) {
    const double before = energy(block - 2) + energy(block - 1);
    const double after = energy(block) + energy(block + 1);
    if (after > best * before && after > 1e-12) {
      best = before > 0.0 ? after / before : after * 1e12;
      start = block * kEnergyBlock;
    }
  }
  return start;
}

void VarsileLookahead::LookaheadKernel::Schedule(std::int64_t decided,
                                                 Float32 target) noexcept VARSILE_NONBLOCKING {
  // The output side is here now: a closing change starts at once, the whole
  // delay ahead of the decision, since a wrong note's onset costs more than
  // the end of the note before it. An opening one waits for where the note
  // began, less the time the ramp needs.
  std::int64_t at = static_cast<std::int64_t>(mFrames) - static_cast<std::int64_t>(mDelay.size());
  if (mHaveDecided) {
    const Float32 from = varsile::effect::ClampPercent(mDecided);
    const Float32 to = std::isnan(target) ? 0.0f : varsile::effect::ClampPercent(target);
    if (to > from) {
      const Float32 ramp = (to - from) / StepFor(from, to);
      at = std::max(at, NoteStart(decided) - static_cast<std::int64_t>(std::min(ramp, 1e9f)));
    }
  }
  mDecided = target;
  mHaveDecided = true;
  // A change placed before ones still pending supersedes them.
  while (mChangeCount > 0 && mChanges[(mFirstChange + mChangeCount - 1) % kMaxChanges].at >= at)
    --mChangeCount;
  if (mChangeCount == kMaxChanges) --mChangeCount;
  mChanges[(mFirstChange + mChangeCount) % kMaxChanges] = Change{at, target};
  ++mChangeCount;
}

void VarsileLookahead::LookaheadKernel::Gate(Float32* samples, UInt32 frames) noexcept VARSILE_NONBLOCKING {
  const std::int64_t out = static_cast<std::int64_t>(mFrames) - static_cast<std::int64_t>(mDelay.size());
  Float32 volume = varsile::effect::ClampPercent(mVolume.load(std::memory_order_relaxed));
  UInt32 done = 0;
  while (done < frames) {
    const std::int64_t here = out + done;
    while (mChangeCount > 0 && mChanges[mFirstChange].at <= here) {
      mTarget = mChanges[mFirstChange].target;
      mFirstChange = (mFirstChange + 1) % kMaxChanges;
      --mChangeCount;
    }
    UInt32 span = frames - done;
    if (mChangeCount > 0)
      span = static_cast<UInt32>(std::min<std::int64_t>(span, mChanges[mFirstChange].at - here));
    volume = varsile::effect::ApplyGainRamp(samples + done, samples + done, span, volume, mTarget,
                                            StepFor(volume, mTarget));
    done += span;
  }
  mVolume.store(volume, std::memory_order_relaxed);
}

VarsileLookahead::VarsileLookahead(AudioComponentInstance instance) : Varsile(instance) {}

UInt32 VarsileLookahead::DelayFrames(Float64 sampleRate) noexcept {
  if (!(sampleRate > 0.0)) return 0;
  return static_cast<UInt32>(std::min(std::round(sampleRate * kDelaySeconds), kMaxDelayFrames));
}

Float64 VarsileLookahead::GetLatency() {
  const Float64 rate = GetSampleRate();
  const UInt32 frames = DelayFrames(rate);
  return frames == 0 ? 0.0 : frames / rate;
}

AUKernelBase* VarsileLookahead::NewKernel() {
  return new LookaheadKernel(this, DelayFrames(GetSampleRate()));
}

OSStatus VarsileLookahead::RestoreState(CFPropertyListRef data) {
  SInt32 subtype = 0;
  const auto dictionary = static_cast<CFDictionaryRef>(data);
  const bool plain =
      data != nullptr && CFGetTypeID(data) == CFDictionaryGetTypeID() &&
      IsNumber(CFDictionaryGetValue(dictionary, CFSTR("subtype"))) &&
      CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(dictionary, CFSTR("subtype"))),
                       kCFNumberSInt32Type, &subtype) &&
      subtype == static_cast<SInt32>(kPlainSubtype);
  if (!plain) return Varsile::RestoreState(data);

  // The same state under this component's own subtype.
  const CFIndex count = CFDictionaryGetCount(dictionary);
  std::vector<const void*> keys(static_cast<std::size_t>(count));
  std::vector<const void*> values(static_cast<std::size_t>(count));
  CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
  const varsile::CFRef<CFMutableDictionaryRef> copy(CFDictionaryCreateMutable(
      kCFAllocatorDefault, count, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  for (CFIndex i = 0; i < count; ++i) CFDictionarySetValue(copy.Get(), keys[i], values[i]);
  AddNumToDictionary(copy.Get(), CFSTR("subtype"),
                     static_cast<SInt32>(GetComponentDescription().componentSubType));
  return Varsile::RestoreState(copy.Get());
}

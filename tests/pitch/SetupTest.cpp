// Ownership of the FFT setups, and a tracker whose setup could not be made.
// The test program interposes the setup and transform calls to count them
// and to make one size fail.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <set>

#include "TrackerHarness.h"

using namespace pitchtest;

namespace {

std::atomic<long> gFailingLog2Size{-1};
std::atomic<int> gCreated{0};
std::atomic<int> gDestroyed{0};
std::atomic<int> gTransforms{0};
std::atomic<int> gTransformsWithoutSetup{0};

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

struct FailSetup {
  explicit FailSetup(long log2Size) { gFailingLog2Size = log2Size; }
  ~FailSetup() { gFailingLog2Size = -1; }
};

}  // namespace

extern "C" FFTSetup vDSP_create_fftsetup(vDSP_Length log2n, FFTRadix radix) {
  static const auto next = Next<FFTSetup (*)(vDSP_Length, FFTRadix)>("vDSP_create_fftsetup");
  if (static_cast<long>(log2n) == gFailingLog2Size) return nullptr;
  ++gCreated;
  return next(log2n, radix);
}

extern "C" void vDSP_destroy_fftsetup(FFTSetup setup) {
  static const auto next = Next<void (*)(FFTSetup)>("vDSP_destroy_fftsetup");
  if (setup != nullptr) ++gDestroyed;
  next(setup);
}

extern "C" void vDSP_fft_zip(FFTSetup setup, const DSPSplitComplex* c, vDSP_Stride ic, vDSP_Length log2n,
                             FFTDirection direction) {
  static const auto next =
      Next<void (*)(FFTSetup, const DSPSplitComplex*, vDSP_Stride, vDSP_Length, FFTDirection)>(
          "vDSP_fft_zip");
  ++gTransforms;
  if (setup == nullptr) {
    ++gTransformsWithoutSetup;
    return;
  }
  next(setup, c, ic, log2n, direction);
}

TEST(TrackerSetups, FiveAreMadeAtConstructionAndFreedWithTheTracker) {
  const int created = gCreated, destroyed = gDestroyed;
  {
    auto tracker = MakeTracker();
    EXPECT_EQ(gCreated - created, 5);
    tracker->Reset(9);
    tracker->Reset(13);
    EXPECT_EQ(gCreated - created, 5);
    EXPECT_EQ(gDestroyed - destroyed, 0);
  }
  EXPECT_EQ(gDestroyed - destroyed, 5);
}

TEST(TrackerSetups, OneTransformPerAnalysedFrame) {
  auto tracker = MakeTracker();
  const int before = gTransforms;
  Feed(*tracker, Sine(440.0, 1000));
  EXPECT_EQ(gTransforms - before, 3);
}

TEST(TrackerSetups, AMissingSetupIsNeverUsed) {
  const int destroyed = gDestroyed;
  {
    FailSetup fail(11);
    auto tracker = MakeTracker();
    EXPECT_FALSE(tracker->CanAnalyse());

    const int transforms = gTransforms;
    Call call;
    call.accuracyThreshold = 0.0f;
    EXPECT_EQ(Feed(*tracker, Sine(440.0, 4096), call), -1);
    EXPECT_EQ(tracker->Accuracy(), 0.0f);
    EXPECT_EQ(gTransforms - transforms, 0);
    for (long k = 0; k < 1025; ++k) ASSERT_EQ(tracker->BinMagnitudes()[k], 0.0f);

    // Another size still works, and the failed one keeps refusing.
    tracker->Reset(10);
    call.log2Size = 10;
    EXPECT_EQ(Feed(*tracker, Sine(440.0, 2048), call), 9);
    tracker->Reset(11);
    call.log2Size = 11;
    EXPECT_EQ(Feed(*tracker, Sine(440.0, 4096), call), -1);
  }
  EXPECT_EQ(gDestroyed - destroyed, 4);
  EXPECT_EQ(gTransformsWithoutSetup, 0);
}

// The periodic Hann window (zero at n = 0, peak at N/2), computed in double
// and rounded once. The second half mirrors the first, which the formula
// gives exactly and the cosine in floating point only nearly.
#include <Accelerate/Accelerate.h>

#include <cmath>
#include <numbers>

extern "C" void vDSP_hann_window(float* c, vDSP_Length n, int flag) {
  if (n == 0) return;
  // Only the normalisation bit is defined; other bits are ignored.
  const double scale = (flag & vDSP_HANN_NORM) != 0 ? 0.8165 : 0.5;
  const double radiansPerSample = 2.0 * std::numbers::pi / static_cast<double>(n);
  const vDSP_Length half = n / 2;
  for (vDSP_Length k = 0; k <= half; ++k) {
    c[k] = static_cast<float>(scale * (1.0 - std::cos(radiansPerSample * static_cast<double>(k))));
  }
  for (vDSP_Length k = half + 1; k < n; ++k) c[k] = c[n - k];
}

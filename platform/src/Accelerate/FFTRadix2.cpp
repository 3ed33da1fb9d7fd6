#include "FFTRadix2.h"

#include <utility>

namespace varsile::accelerate {

void FFTRadix2InPlace(float* re, float* im, long stride, unsigned log2n, const float* cosine,
                      const float* sine, bool inverse) noexcept {
  const long n = 1L << log2n;
  for (long i = 1, j = 0; i < n; ++i) {
    long bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j |= bit;
    if (i < j) {
      std::swap(re[i * stride], re[j * stride]);
      std::swap(im[i * stride], im[j * stride]);
    }
  }
  // Forward kernel e^(-i theta): W = cos - i sin.
  const float sign = inverse ? 1.0f : -1.0f;
  for (long length = 2; length <= n; length <<= 1) {
    const long half = length / 2;
    const long step = n / length;
    for (long j = 0; j < half; ++j) {
      const float wr = j == 0 ? 1.0f : cosine[j * step];
      const float wi = j == 0 ? 0.0f : sign * sine[j * step];
      for (long start = j; start < n; start += length) {
        float& ur = re[start * stride];
        float& ui = im[start * stride];
        float& vr = re[(start + half) * stride];
        float& vi = im[(start + half) * stride];
        const float tr = wr * vr - wi * vi;
        const float ti = wr * vi + wi * vr;
        vr = ur - tr;
        vi = ui - ti;
        ur += tr;
        ui += ti;
      }
    }
  }
}

}  // namespace varsile::accelerate

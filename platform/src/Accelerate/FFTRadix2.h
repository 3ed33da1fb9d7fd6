#pragma once

namespace varsile::accelerate {

// In-place iterative radix-2 transform of 2^log2n points at any positive
// stride, needing no memory beyond the arrays: the slow but always available
// path. cosine and sine hold cos and sin of 2 pi k / N for k < N/2; they may
// be null when N is 2.
void FFTRadix2InPlace(float* re, float* im, long stride, unsigned log2n, const float* cosine,
                      const float* sine, bool inverse) noexcept;

}  // namespace varsile::accelerate

// References and measures shared by the vector-library tests.
#pragma once

#include <Accelerate/Accelerate.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace accelerate_test {

using Spectrum = std::vector<std::complex<double>>;

// The DFT by its definition, X[k] = sum x[n] e^(sign 2 pi i k n / N), sign -1
// forward; twiddles from an exact index table so that double precision holds.
inline Spectrum NaiveDFT(const std::vector<float>& re, const std::vector<float>& im, bool inverse = false) {
  const size_t n = re.size();
  std::vector<double> cosine(n), sine(n);
  for (size_t k = 0; k < n; ++k) {
    const double angle = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
    cosine[k] = std::cos(angle);
    sine[k] = (inverse ? 1.0 : -1.0) * std::sin(angle);
  }
  Spectrum out(n);
  for (size_t k = 0; k < n; ++k) {
    double sumRe = 0.0, sumIm = 0.0;
    size_t index = 0;
    for (size_t j = 0; j < n; ++j) {
      const double xr = re[j], xi = im[j];
      sumRe += xr * cosine[index] - xi * sine[index];
      sumIm += xr * sine[index] + xi * cosine[index];
      index += k;
      if (index >= n) index -= n;
    }
    out[k] = {sumRe, sumIm};
  }
  return out;
}

// A double-precision recursive radix-2 FFT: fast enough for the large sizes,
// and itself checked against NaiveDFT.
inline void ReferenceFFTInPlace(std::complex<double>* x, size_t n, std::complex<double>* work, double sign) {
  if (n == 1) return;
  const size_t half = n / 2;
  for (size_t k = 0; k < half; ++k) {
    work[k] = x[2 * k];
    work[k + half] = x[2 * k + 1];
  }
  std::copy(work, work + n, x);
  ReferenceFFTInPlace(x, half, work, sign);
  ReferenceFFTInPlace(x + half, half, work, sign);
  for (size_t k = 0; k < half; ++k) {
    const double angle = sign * 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
    const std::complex<double> t = std::polar(1.0, angle) * x[k + half];
    const std::complex<double> u = x[k];
    x[k] = u + t;
    x[k + half] = u - t;
  }
}

inline Spectrum ReferenceFFT(const std::vector<float>& re, const std::vector<float>& im,
                             bool inverse = false) {
  Spectrum x(re.size()), work(re.size());
  for (size_t k = 0; k < re.size(); ++k) x[k] = {re[k], im[k]};
  ReferenceFFTInPlace(x.data(), x.size(), work.data(), inverse ? 1.0 : -1.0);
  return x;
}

struct SpectrumError {
  double relativeRMS;   // RMS of the error over RMS of the reference
  double relativePeak;  // largest error over RMS of the reference
};

inline SpectrumError CompareSpectrum(const float* re, const float* im, const Spectrum& want) {
  double errorSquares = 0.0, wantSquares = 0.0, maxError = 0.0;
  for (size_t k = 0; k < want.size(); ++k) {
    const double error = std::abs(std::complex<double>(re[k], im[k]) - want[k]);
    errorSquares += error * error;
    wantSquares += std::norm(want[k]);
    maxError = std::max(maxError, error);
  }
  const double rms = std::sqrt(wantSquares / static_cast<double>(want.size()));
  return {std::sqrt(errorSquares / wantSquares), maxError / rms};
}

inline std::vector<float> RandomFloats(size_t n, std::mt19937& rng, float low = -1.0f, float high = 1.0f) {
  std::uniform_real_distribution<float> dist(low, high);
  std::vector<float> out(n);
  for (float& v : out) v = dist(rng);
  return out;
}

// Distance in representable floats; 0 for +0 against -0.
inline int64_t UlpDistance(float a, float b) {
  auto ordered = [](float f) {
    const auto bits = static_cast<int64_t>(std::bit_cast<int32_t>(f));
    return bits < 0 ? -(bits & 0x7fffffff) : bits;
  };
  const int64_t d = ordered(a) - ordered(b);
  return d < 0 ? -d : d;
}

}  // namespace accelerate_test

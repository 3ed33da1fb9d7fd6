// vForce: SLEEF's 1-ULP vector functions at the best instruction set the
// processor offers, chosen once (VectorDispatch.cpp).
#include <Accelerate/Accelerate.h>

#include "VectorKernels.h"

extern "C" {

void vvatan2f(float* z, const float* y, const float* x, const int* n) {
  if (n == nullptr || *n <= 0) return;
  varsile::accelerate::ActiveVectorKernels().atan2(z, y, x, *n);
}

void vvlogf(float* y, const float* x, const int* n) {
  if (n == nullptr || *n <= 0) return;
  varsile::accelerate::ActiveVectorKernels().log(y, x, *n);
}

}  // extern "C"

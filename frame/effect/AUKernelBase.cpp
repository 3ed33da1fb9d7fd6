// The per-channel kernel base.
#include "AUKernelBase.h"

AUKernelBase::~AUKernelBase() = default;
void AUKernelBase::Reset() {}

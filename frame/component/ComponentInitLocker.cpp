// The mutex that serialises opening instances across the process.
#include "ComponentEntryPoint.h"

std::mutex ComponentInitLocker::sComponentOpenMutex;

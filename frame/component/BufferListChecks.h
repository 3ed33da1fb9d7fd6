// Checks on buffer lists that come back from outside the component (an input
// callback or an upstream unit), before anything reads through them.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include "CAStreamBasicDescription.h"

// Whether a pulled list can be read for `frames` frames of `format`: at least
// the format's number of buffers, each with data, at least one channel and no
// more than the format puts in one buffer, and at least frames x bytes per frame bytes.
// kAudio_ParamError otherwise.
OSStatus CheckPulledBufferList(const AudioBufferList& list, const CAStreamBasicDescription& format,
                               UInt32 frames) noexcept;

// Everything a component or a host needs to speak the audio-unit interface.
#pragma once

#include <AudioUnit/AUComponent.h>
#include <AudioUnit/AudioComponent.h>
#include <AudioUnit/AudioUnitProperties.h>

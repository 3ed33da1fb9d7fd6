// A component entry that records every call it receives, for tests of the
// host side: what selector arrived, with which argument words and storage.
#pragma once

#include <AudioToolbox/AudioComponentRegistry.h>
#include <AudioUnit/AudioUnit.h>

#include <array>
#include <cstring>

namespace host_test {

struct RecordedCall {
  SInt16 what = 0;
  UInt8 paramSize = 0;
  std::array<long, 8> words{};
  void* storage = nullptr;
};

// The storage a fake instance attaches at open.
struct FakeUnit {
  AudioComponentInstance handle;
};

struct FakeComponentLog {
  RecordedCall last;
  int calls = 0;
  int opens = 0;
  int closes = 0;
  OSStatus openStatus = noErr;   // what open answers
  OSStatus closeStatus = noErr;  // what close answers
  OSStatus reply = noErr;        // what every other selector answers
  FakeUnit* lastOpened = nullptr;
};

inline FakeComponentLog gFakeLog;

inline OSStatus RecordingEntry(ComponentParameters* params, void* storage) {
  FakeComponentLog& log = gFakeLog;
  ++log.calls;
  log.last.what = params->what;
  log.last.paramSize = params->paramSize;
  std::memcpy(log.last.words.data(), params->params, sizeof(params->params));
  log.last.storage = storage;
  switch (params->what) {
    case kComponentOpenSelect: {
      ++log.opens;
      if (log.openStatus != noErr) return log.openStatus;
      auto handle = reinterpret_cast<AudioComponentInstance>(params->params[0]);
      log.lastOpened = new FakeUnit{handle};
      SetComponentInstanceStorage(handle, log.lastOpened);
      return noErr;
    }
    case kComponentCloseSelect:
      ++log.closes;
      delete static_cast<FakeUnit*>(storage);
      return log.closeStatus;
    default:
      return log.reply;
  }
}

inline AudioComponentDescription Describe(OSType type, OSType subtype, OSType manufacturer,
                                          UInt32 flags = 0) {
  return AudioComponentDescription{type, subtype, manufacturer, flags, 0};
}

constexpr OSType FourCC(const char (&code)[5]) {
  return (OSType(UInt8(code[0])) << 24) | (OSType(UInt8(code[1])) << 16) | (OSType(UInt8(code[2])) << 8) |
         OSType(UInt8(code[3]));
}

}  // namespace host_test

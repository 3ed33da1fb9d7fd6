#include "PlainStatus.h"

#include <array>
#include <string_view>
#include <utility>

#include "StatusNames.h"

namespace varsile::cli {

namespace {

constexpr std::array<std::pair<OSStatus, std::string_view>, 9> kWords{{
    {kAudioUnitErr_InvalidPropertyValue, "it holds a value the component does not accept"},
    {kAudioUnitErr_InvalidParameter, "it names a parameter the component does not have"},
    {kAudioUnitErr_FormatNotSupported, "the component does not take this audio format"},
    {kAudioUnitErr_TooManyFramesToProcess, "the block is longer than the component takes"},
    {kAudioUnitErr_Uninitialized, "the component was not ready"},
    {kAudioUnitErr_InvalidProperty, "the component does not know this request"},
    {kAudioUnitErr_PropertyNotWritable, "the component does not allow this change"},
    {kAudio_ParamError, "a value is out of range"},
    {memFullErr, "out of memory"},
}};

}  // namespace

std::string PlainStatus(OSStatus status) {
  for (const auto& [code, words] : kWords) {
    if (code == status) return std::string(words);
  }
  return "the component failed with " + host::StatusName(status);
}

}  // namespace varsile::cli

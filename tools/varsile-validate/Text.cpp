#include "Text.h"

#include <array>
#include <charconv>

namespace varsile::validate {

namespace {

bool IsPrintable(unsigned char c) {
  return c >= 0x20 && c < 0x7F;
}

template <typename Float>
std::string ShortestText(Float value) {
  std::array<char, 64> buffer{};
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  if (error != std::errc{}) return "?";
  return std::string(buffer.data(), end);
}

}  // namespace

std::optional<UInt32> ParseFourCC(std::string_view text) {
  UInt32 code = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const std::string_view digits = text.substr(2);
    if (digits.size() > 8) return std::nullopt;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, 16);
    if (error != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
  } else {
    if (text.size() != 4) return std::nullopt;
    for (char c : text) {
      if (!IsPrintable(static_cast<unsigned char>(c))) return std::nullopt;
      code = (code << 8) | static_cast<unsigned char>(c);
    }
  }
  if (code == 0) return std::nullopt;
  return code;
}

std::string ScopeText(AudioUnitScope scope) {
  switch (scope) {
    case kAudioUnitScope_Global:
      return "global";
    case kAudioUnitScope_Input:
      return "input";
    case kAudioUnitScope_Output:
      return "output";
    case kAudioUnitScope_Group:
      return "group";
    case kAudioUnitScope_Part:
      return "part";
    default:
      return "scope " + std::to_string(scope);
  }
}

std::string PropertyText(AudioUnitPropertyID id) {
  const std::string number = id == kAudioUnitProperty_LastRenderedSampleTime ? "'lrst'" : std::to_string(id);
  const std::string name = host::PropertyName(id);
  return name.starts_with("property ") ? number : number + " " + name;
}

std::string FloatText(float value) {
  return ShortestText(value);
}

std::string FloatText(double value) {
  return ShortestText(value);
}

}  // namespace varsile::validate

#include "ComponentManifest.h"

#include <AudioToolbox/AudioComponentRegistry.h>
#include <Varsile/CoreTypes.h>

#include <array>
#include <charconv>
#include <optional>
#include <string>

namespace varsile::platform {
namespace {

constexpr std::size_t kMaxEntryLength = 255;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Decimal, or hex after "0x"; no sign, no spaces, at most 32 bits.
std::optional<UInt32> ParseNumber(std::string_view s) {
  int base = 10;
  std::size_t most = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
    most = 8;
  }
  UInt32 value = 0;
  if (s.empty() || s.size() > most) return std::nullopt;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value, base);
  if (error != std::errc{} || end != s.data() + s.size()) return std::nullopt;
  return value;
}

// Four printable ASCII characters, bare or in single quotes (for codes that
// hold a space), or a 0x hex number.
std::optional<OSType> ParseFourCharCode(std::string_view s) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) return ParseNumber(s);
  if (s.size() == 6 && s.front() == '\'' && s.back() == '\'') s = s.substr(1, 4);
  if (s.size() != 4) return std::nullopt;
  OSType code = 0;
  for (char c : s) {
    if (c < 0x20 || c > 0x7e) return std::nullopt;
    code = (code << 8) | static_cast<UInt8>(c);
  }
  return code;
}

bool IsIdentifier(std::string_view s) {
  if (s.empty() || s.size() > kMaxEntryLength) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

// The name becomes a string value, which takes well-formed UTF-8 only.
bool IsValidUtf8(std::string_view s) {
  const varsile::CFRef<CFStringRef> probe(
      CFStringCreateWithCString(kCFAllocatorDefault, std::string(s).c_str(), kCFStringEncodingUTF8));
  return static_cast<bool>(probe);
}

enum Key { kType, kSubtype, kManufacturer, kName, kVersion, kFlags, kEntry, kLibrary, kKeyCount };
constexpr std::array<std::string_view, kKeyCount> kKeyNames = {
    "type", "subtype", "manufacturer", "name", "version", "flags", "entry", "library"};
constexpr std::array<bool, kKeyCount> kRequired = {true, true, true, true, false, false, true, true};

}  // namespace

OSStatus ParseComponentManifest(std::string_view text, ComponentManifest& outManifest,
                                std::string& outMessage) {
  ComponentManifest manifest;
  std::array<bool, kKeyCount> seen{};
  std::size_t lineNumber = 0;
  auto fail = [&outMessage, &lineNumber](const std::string& problem) {
    outMessage = lineNumber > 0 ? "line " + std::to_string(lineNumber) + ": " + problem : problem;
    return kComponentLoadErr_ManifestMalformed;
  };

  if (text.find('\0') != std::string_view::npos) return fail("the manifest holds a NUL byte");
  // Some editors start UTF-8 files with a byte-order mark.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);

  while (!text.empty()) {
    ++lineNumber;
    const std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;

    std::size_t split = 0;
    while (split < line.size() && !IsBlank(line[split])) ++split;
    const std::string_view keyText = line.substr(0, split);
    const std::string_view value = Trim(line.substr(split));

    std::size_t key = 0;
    while (key < kKeyCount && kKeyNames[key] != keyText) ++key;
    if (key == kKeyCount) return fail("unknown key '" + std::string(keyText) + "'");
    if (seen[key]) return fail("'" + std::string(keyText) + "' given twice");
    if (value.empty()) return fail("'" + std::string(keyText) + "' has no value");
    seen[key] = true;

    switch (key) {
      case kType:
      case kSubtype:
      case kManufacturer: {
        const std::optional<OSType> code = ParseFourCharCode(value);
        if (!code) {
          return fail("'" + std::string(keyText) + "' needs four characters or a 0x number, not '" +
                      std::string(value) + "'");
        }
        // Zero means "any" in a search, so it cannot name a component.
        if (*code == 0) return fail("'" + std::string(keyText) + "' must not be zero");
        OSType& field = key == kType      ? manifest.mDescription.componentType
                        : key == kSubtype ? manifest.mDescription.componentSubType
                                          : manifest.mDescription.componentManufacturer;
        field = *code;
        break;
      }
      case kVersion:
      case kFlags: {
        const std::optional<UInt32> number = ParseNumber(value);
        if (!number) {
          return fail("'" + std::string(keyText) + "' needs a 32-bit decimal or 0x number, not '" +
                      std::string(value) + "'");
        }
        (key == kVersion ? manifest.mVersion : manifest.mDescription.componentFlags) = *number;
        break;
      }
      case kName:
        if (!IsValidUtf8(value)) return fail("'name' is not valid UTF-8");
        manifest.mName = value;
        break;
      case kEntry:
        if (!IsIdentifier(value))
          return fail("'entry' must be a C symbol name, not '" + std::string(value) + "'");
        manifest.mEntry = value;
        break;
      case kLibrary:
        manifest.mLibrary = value;
        break;
    }
  }

  lineNumber = 0;
  for (std::size_t key = 0; key < kKeyCount; ++key) {
    if (kRequired[key] && !seen[key]) return fail("missing key '" + std::string(kKeyNames[key]) + "'");
  }
  outManifest = std::move(manifest);
  return noErr;
}

}  // namespace varsile::platform

// Fuzzes the command-line program's preset reader: any text goes through the
// XML property-list reader, and what it accepts is written back as XML, read
// again, and handed to a gate as its class-info state, as `varsile process
// --preset` does. Every refusal must be the program's own error (CliError);
// no other exception, no crash, no sanitizer report, no leak.
#include <cstdint>
#include <string_view>

#include "CliError.h"
#include "FuzzSupport.h"
#include "PropertyListXml.h"

using namespace fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool warmed = [] {
    const OpenedGate gate;
    WarmIntervalNames(gate.Unit());
    return true;
  }();
  (void)warmed;

  const CFBalance balance;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const auto value = varsile::cli::FromXml(text);
    const CFPropertyListRef read = value.Get();
    // What the program writes, it must read back.
    std::string written;
    try {
      written = varsile::cli::ToXml(read);
    } catch (const varsile::cli::CliError&) {
      written.clear();
    }
    if (!written.empty()) {
      try {
        const auto reread = varsile::cli::FromXml(written);
        if (!CFEqual(read, reread.Get())) Stop("a preset read back differs from what was written");
      } catch (const varsile::cli::CliError& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        Stop("a preset the program wrote could not be read back");
      }
    }
    if (CFGetTypeID(read) == CFDictionaryGetTypeID()) {
      const OpenedGate gate;
      AudioUnitSetProperty(gate.Unit(), kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &read,
                           sizeof read);
    }
  } catch (const varsile::cli::CliError&) {
    // A refusal with the program's own message.
  }
  return 0;
}

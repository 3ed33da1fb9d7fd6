#include <cctype>
#include <map>

#include "PortTable.h"

namespace varsile::lv2 {

namespace {

std::string ChannelNote(const PortSpec& port, UInt32 channels) {
  if (channels == 1) return "";
  return port.channel == 0 ? " Left channel." : port.channel == 1 && channels == 2 ? " Right channel." : "";
}

}  // namespace

std::string PortComment(const PortSpec& port, UInt32 channels) {
  if (port.role == PortRole::Enabled)
    return "Off passes the input through unchanged; the analysis starts over when it is turned on again.";
  if (port.role == PortRole::Latency)
    return "How many frames the output lags behind the input, for the host to compensate.";
  if (port.kind == PortKind::AudioInput) return "Audio to gate." + ChannelNote(port, channels);
  if (port.kind == PortKind::AudioOutput) return "The gated audio." + ChannelNote(port, channels);
  if (port.IsIntervalVolume()) {
    std::string interval = port.name;
    interval.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(interval.front())));
    const std::string notes = port.symbol == "vol_unison" ? "the key's own notes"
                              : std::string("aeiou").find(interval.front()) != std::string::npos
                                  ? "notes an " + interval + " above the key"
                                  : "notes a " + interval + " above the key";
    return "The volume of " + notes + ", at a master volume of 100 %.";
  }
  static const std::map<std::string, std::string, std::less<>> comments = {
      {"key", "The key of the scale: the interval volumes count from it."},
      {"master_volume",
       "Moves every interval volume at once: an interval plays at its own volume plus this one minus 100 %."},
      {"attack_time",
       "How long the gain takes to rise from 0 to 100 % when an allowed note starts. The default of 20 ms "
       "follows melodies; the component on its own starts at 1 s, which lets short notes through."},
      {"release_time",
       "How long the gain takes to fall from 100 to 0 % when a gated note starts. The default of 20 ms "
       "follows melodies; the component on its own starts at 1 s, which lets short notes through."},
      {"a4_frequency", "The tuning reference: the frequency of the A above middle C."},
      {"accuracy_threshold",
       "How clearly a note must stand out of an analysis frame before the tracker takes it as the current "
       "note."},
      {"jitter_threshold",
       "A hold count handed to the pitch tracker; it changes neither the notes nor the sound."},
      {"current_volume", "The gain the gate applies now."},
      {"current_note", "The note the tracker hears now, or 'Pitch tracker off' before it has decided."},
      {"accuracy", "How clearly the current note stands out of the last analysis frame."},
  };
  // A meter of a later channel carries the first one's symbol and a suffix.
  for (std::string_view symbol = port.symbol; !symbol.empty(); symbol.remove_suffix(1)) {
    if (const auto it = comments.find(symbol); it != comments.end()) {
      return it->second + (port.kind == PortKind::ControlOutput ? ChannelNote(port, channels) : "");
    }
  }
  return port.name + ".";
}

}  // namespace varsile::lv2

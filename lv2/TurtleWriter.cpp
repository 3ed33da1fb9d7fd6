#include "TurtleWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <set>
#include <stdexcept>
#include <utility>

namespace varsile::lv2 {

namespace {

constexpr std::string_view kPrefixes =
    "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
    "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix opts:  <http://lv2plug.in/ns/ext/options#> .\n"
    "@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .\n"
    "@prefix foaf:  <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix pg:    <http://lv2plug.in/ns/ext/port-groups#> .\n"
    "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid:  <http://lv2plug.in/ns/ext/urid#> .\n";

// For the manifest and the presets.
constexpr std::string_view kShortPrefixes =
    "@prefix lv2:  <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";

// Of the project: hosts find it through each plug-in's lv2:project.
constexpr std::string_view kProject =
    "\ta doap:Project ;\n"
    "\tdoap:name \"Varsile\" ;\n"
    "\tdoap:shortdesc \"A gate that lets through the notes of a scale\" ;\n"
    "\tdoap:maintainer [\n\t\ta foaf:Person ;\n\t\tfoaf:name \"Varsile maintainers\"\n\t] .\n";

constexpr std::string_view kPresetComment =
    "\trdfs:comment \"Notes outside the scale silent, attack and release for melodies; Key sets the key.\"";

constexpr std::pair<AudioUnitParameterUnit, std::string_view> kUnitTerms[] = {
    {kAudioUnitParameterUnit_Percent, "units:pc"},
    {kAudioUnitParameterUnit_Seconds, "units:s"},
    {kAudioUnitParameterUnit_Hertz, "units:hz"},
    {kAudioUnitParameterUnit_SampleFrames, "units:frame"}};

// The texts of the items, separator between them.
template <typename Items, typename Text = std::identity>
std::string Joined(const Items& items, std::string_view separator, Text text = {}) {
  std::string out;
  for (const auto& item : items) out.append(separator).append(text(item));
  return out.erase(0, std::min(separator.size(), out.size()));
}

std::string Uri(std::string_view uri) {
  return "<" + std::string(uri) + ">";
}

std::string GroupURI(std::string_view symbol) {
  return Uri(std::string(kGroupURIPrefix) + std::string(symbol));
}

std::string PortText(const PortSpec& port) {
  const bool input = port.kind == PortKind::ControlInput || port.kind == PortKind::AudioInput;
  std::string out = std::string("\t\ta ") + (input ? "lv2:InputPort" : "lv2:OutputPort") +
                    (port.IsControl() ? " , lv2:ControlPort" : " , lv2:AudioPort") + " ;\n";
  out += "\t\tlv2:index " + std::to_string(port.index) + " ;\n";
  out += "\t\tlv2:symbol " + QuotedText(port.symbol) + " ;\n";
  out += "\t\tlv2:name " + QuotedText(port.name);
  if (!port.comment.empty()) out += " ;\n\t\trdfs:comment " + QuotedText(port.comment);
  if (!port.designation.empty()) out += " ;\n\t\tlv2:designation " + port.designation;
  if (!port.group.empty() && !port.IsControl()) out += " ;\n\t\tpg:group " + GroupURI(port.group);
  if (!port.IsControl()) return out + "\n";
  out += " ;\n\t\tlv2:default " + DecimalText(port.defaultValue);
  out += " ;\n\t\tlv2:minimum " + DecimalText(port.minimum);
  out += " ;\n\t\tlv2:maximum " + DecimalText(port.maximum);
  for (const auto& [unit, term] : kUnitTerms) {
    if (unit == port.unit) out += " ;\n\t\tunits:unit " + std::string(term);
  }
  std::vector<std::string_view> properties;
  if (port.toggled) properties.push_back("lv2:toggled");
  if (!port.toggled && port.integer) properties.push_back("lv2:integer");
  if (!port.toggled && port.integer && port.enumeration) properties.push_back("lv2:enumeration");
  if (port.logarithmic) properties.push_back("pprops:logarithmic");
  if (port.role == PortRole::Latency) properties.push_back("lv2:reportsLatency");
  if (!properties.empty()) {
    out += " ;\n\t\tlv2:portProperty " + Joined(properties, " , ");
  }
  if (!port.group.empty()) out += " ;\n\t\tpg:group " + GroupURI(port.group);
  if (!port.scalePoints.empty()) {
    out += " ;\n\t\tlv2:scalePoint [\n" + Joined(port.scalePoints, " , [\n", [](const ScalePoint& point) {
             return "\t\t\trdfs:label " + QuotedText(point.label) + " ;\n\t\t\trdf:value " +
                    DecimalText(point.value) + "\n\t\t]";
           });
  }
  return out + "\n";
}

// A preset's subject: what it is and which plug-ins it is for.
std::string PresetHead(const BundleDescription& bundle, const PresetSpec& preset) {
  return "\n" + Uri(preset.uri) + "\n\ta pset:Preset ;\n\tlv2:appliesTo " +
         Joined(bundle.plugins, " , ",
                [](const DescribedPlugin& plugin) { return Uri(plugin.variant.uri); }) +
         " ;\n";
}

}  // namespace

std::string DecimalText(float value) {
  if (!std::isfinite(value)) throw std::invalid_argument("a port value must be finite");
  char text[64];
  // The shortest fixed form that reads back as the same float.
  const auto [end, error] = std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed);
  if (error != std::errc{}) throw std::invalid_argument("a port value too large to write");
  std::string result(text, end);
  if (result.find('.') == std::string::npos) result += ".0";
  return result;
}

std::string QuotedText(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += {'\\', c};
    } else if (const char* named = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr) {
      quoted += named;
    } else if (byte < 0x20) {
      quoted += {'\\', 'u', '0', '0', "0123456789ABCDEF"[byte >> 4], "0123456789ABCDEF"[byte & 0xF]};
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string ManifestTurtle(const BundleDescription& bundle) {
  std::string out(kShortPrefixes);
  for (const DescribedPlugin& plugin : bundle.plugins) {
    out += "\n" + Uri(plugin.variant.uri) + "\n\ta lv2:Plugin ;\n\tlv2:binary " + Uri(bundle.binaryFile) +
           " ;\n\trdfs:seeAlso " + Uri(kPluginDescriptionFile) + " .\n";
  }
  for (const PresetSpec& preset : bundle.presets) {
    out += PresetHead(bundle, preset) + "\trdfs:seeAlso " + Uri(kPresetsFile) + " .\n";
  }
  return out;
}

std::string PresetTurtle(const BundleDescription& bundle) {
  std::string out(kShortPrefixes);
  for (const PresetSpec& preset : bundle.presets) {
    out += PresetHead(bundle, preset) + "\trdfs:label " + QuotedText(preset.label) + " ;\n";
    out += kPresetComment;
    out += " ;\n\tlv2:port [\n" + Joined(preset.values, "\t] , [\n", [](const auto& value) {
             return "\t\tlv2:symbol " + QuotedText(value.first) + " ;\n\t\tpset:value " +
                    DecimalText(value.second) + "\n";
           });
    out += "\t] .\n";
  }
  return out;
}

std::string PluginTurtle(const BundleDescription& bundle) {
  std::string out(kPrefixes);

  // Groups are shared by the plug-ins; each is written once.
  std::set<std::string> written;
  for (const DescribedPlugin& plugin : bundle.plugins) {
    for (const PortGroup& group : plugin.ports.Groups()) {
      if (!written.insert(group.symbol).second) continue;
      out += "\n" + GroupURI(group.symbol) + "\n\ta " + group.classes + " ;\n";
      out +=
          "\tlv2:symbol " + QuotedText(group.symbol) + " ;\n\trdfs:label " + QuotedText(group.label) + " .\n";
    }
  }
  out += "\n" + Uri(kProjectURI) + "\n" + std::string(kProject);

  // LV2 versions have no major number (that is the URI's business).
  const UInt32 minor = (bundle.version >> 8) & 0xFF;
  const UInt32 micro = bundle.version & 0xFF;
  for (const DescribedPlugin& plugin : bundle.plugins) {
    out += "\n" + Uri(plugin.variant.uri) + "\n";
    out += "\ta lv2:Plugin , lv2:GatePlugin ;\n";
    out += "\tdoap:name " + QuotedText(plugin.variant.name) + " ;\n";
    out += "\trdfs:comment " + QuotedText(plugin.variant.comment) + " ;\n";
    out += "\tlv2:project " + Uri(kProjectURI) + " ;\n";
    out += "\tpg:mainInput " + GroupURI(plugin.ports.MainInput()) + " ;\n";
    out += "\tpg:mainOutput " + GroupURI(plugin.ports.MainOutput()) + " ;\n";
    out += "\tdoap:license <https://spdx.org/licenses/GPL-3.0-or-later> ;\n";
    out += "\tlv2:minorVersion " + std::to_string(minor) + " ;\n";
    out += "\tlv2:microVersion " + std::to_string(micro) + " ;\n";
    out += "\tlv2:optionalFeature lv2:hardRTCapable , opts:options , urid:map ;\n";
    out += "\topts:supportedOption bufsz:maxBlockLength ;\n";
    out += "\tlv2:port [\n" + Joined(plugin.ports.Ports(), "\t] , [\n", PortText) + "\t] .\n";
  }
  return out;
}

}  // namespace varsile::lv2

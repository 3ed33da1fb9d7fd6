#include "TurtleWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

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
constexpr std::string_view kMaintainer =
    "\tdoap:maintainer [\n\t\ta foaf:Person ;\n\t\tfoaf:name \"Varsile maintainers\"\n\t]";

std::string_view UnitTerm(AudioUnitParameterUnit unit) noexcept {
  switch (unit) {
    case kAudioUnitParameterUnit_Percent:
      return "units:pc";
    case kAudioUnitParameterUnit_Seconds:
      return "units:s";
    case kAudioUnitParameterUnit_Hertz:
      return "units:hz";
    case kAudioUnitParameterUnit_SampleFrames:
      return "units:frame";
    default:
      return "";
  }
}

std::string_view PortClasses(PortKind kind) noexcept {
  switch (kind) {
    case PortKind::ControlInput:
      return "lv2:InputPort , lv2:ControlPort";
    case PortKind::ControlOutput:
      return "lv2:OutputPort , lv2:ControlPort";
    case PortKind::AudioInput:
      return "lv2:InputPort , lv2:AudioPort";
    case PortKind::AudioOutput:
      return "lv2:OutputPort , lv2:AudioPort";
  }
  return "";
}

std::string GroupURI(std::string_view symbol) {
  return "<" + std::string(kGroupURIPrefix) + std::string(symbol) + ">";
}

void WritePort(std::string& out, const PortSpec& port) {
  out += "\t\ta " + std::string(PortClasses(port.kind)) + " ;\n";
  out += "\t\tlv2:index " + std::to_string(port.index) + " ;\n";
  out += "\t\tlv2:symbol " + QuotedText(port.symbol) + " ;\n";
  out += "\t\tlv2:name " + QuotedText(port.name);
  if (!port.comment.empty()) out += " ;\n\t\trdfs:comment " + QuotedText(port.comment);
  if (!port.designation.empty()) out += " ;\n\t\tlv2:designation " + port.designation;
  if (!port.IsControl() && !port.group.empty()) out += " ;\n\t\tpg:group " + GroupURI(port.group);
  if (port.IsControl()) {
    out += " ;\n\t\tlv2:default " + DecimalText(port.defaultValue);
    out += " ;\n\t\tlv2:minimum " + DecimalText(port.minimum);
    out += " ;\n\t\tlv2:maximum " + DecimalText(port.maximum);
    if (const std::string_view unit = UnitTerm(port.unit); !unit.empty()) {
      out += " ;\n\t\tunits:unit " + std::string(unit);
    }
    std::vector<std::string_view> properties;
    if (port.toggled) {
      properties.push_back("lv2:toggled");
    } else if (port.integer) {
      properties.push_back("lv2:integer");
      if (port.enumeration) properties.push_back("lv2:enumeration");
    }
    if (port.logarithmic) properties.push_back("pprops:logarithmic");
    if (port.role == PortRole::Latency) properties.push_back("lv2:reportsLatency");
    for (std::size_t i = 0; i < properties.size(); ++i) {
      out += (i == 0 ? " ;\n\t\tlv2:portProperty " : " , ") + std::string(properties[i]);
    }
    if (!port.group.empty()) out += " ;\n\t\tpg:group " + GroupURI(port.group);
    for (std::size_t i = 0; i < port.scalePoints.size(); ++i) {
      const ScalePoint& point = port.scalePoints[i];
      out += i == 0 ? " ;\n\t\tlv2:scalePoint [\n" : " , [\n";
      out += "\t\t\trdfs:label " + QuotedText(point.label) + " ;\n";
      out += "\t\t\trdf:value " + DecimalText(point.value) + "\n\t\t]";
    }
  }
  out += "\n";
}

std::string AppliesTo(const BundleDescription& bundle) {
  std::string out = "\tlv2:appliesTo ";
  for (std::size_t i = 0; i < bundle.plugins.size(); ++i) {
    out += (i == 0 ? "<" : " , <") + std::string(bundle.plugins[i].variant.uri) + ">";
  }
  return out + " ;\n";
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
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof(escape), "\\u%04X", static_cast<unsigned>(c));
          quoted += escape;
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

std::string ManifestTurtle(const BundleDescription& bundle) {
  std::string out(kShortPrefixes);
  for (const DescribedPlugin& plugin : bundle.plugins) {
    out += "\n<" + std::string(plugin.variant.uri) + ">\n";
    out += "\ta lv2:Plugin ;\n";
    out += "\tlv2:binary <" + bundle.binaryFile + "> ;\n";
    out += "\trdfs:seeAlso <" + std::string(kPluginDescriptionFile) + "> .\n";
  }
  for (const PresetSpec& preset : bundle.presets) {
    out += "\n<" + preset.uri + ">\n";
    out += "\ta pset:Preset ;\n";
    out += AppliesTo(bundle);
    out += "\trdfs:seeAlso <" + std::string(kPresetsFile) + "> .\n";
  }
  return out;
}

std::string PresetTurtle(const BundleDescription& bundle) {
  std::string out(kShortPrefixes);
  for (const PresetSpec& preset : bundle.presets) {
    out += "\n<" + preset.uri + ">\n";
    out += "\ta pset:Preset ;\n";
    out += AppliesTo(bundle);
    out += "\trdfs:label " + QuotedText(preset.label) + " ;\n";
    out +=
        "\trdfs:comment \"Notes outside the scale silent, attack and release for melodies; Key sets the "
        "key.\"";
    for (std::size_t i = 0; i < preset.values.size(); ++i) {
      out += i == 0 ? " ;\n\tlv2:port [\n" : "\t] , [\n";
      out += "\t\tlv2:symbol " + QuotedText(preset.values[i].first) + " ;\n";
      out += "\t\tpset:value " + DecimalText(preset.values[i].second) + "\n";
    }
    out += preset.values.empty() ? " .\n" : "\t] .\n";
  }
  return out;
}

std::string PluginTurtle(const BundleDescription& bundle) {
  std::string out(kPrefixes);

  // Groups are shared by the plug-ins; each is written once.
  std::vector<std::string> written;
  for (const DescribedPlugin& plugin : bundle.plugins) {
    for (const PortGroup& group : plugin.ports.Groups()) {
      if (std::find(written.begin(), written.end(), group.symbol) != written.end()) continue;
      written.push_back(group.symbol);
      out += "\n" + GroupURI(group.symbol) + "\n";
      out += "\ta " + group.classes + " ;\n";
      out += "\tlv2:symbol " + QuotedText(group.symbol) + " ;\n";
      out += "\trdfs:label " + QuotedText(group.label) + " .\n";
    }
  }

  out += "\n<" + std::string(kProjectURI) + ">\n";
  out += "\ta doap:Project ;\n";
  out += "\tdoap:name \"Varsile\" ;\n";
  out += "\tdoap:shortdesc \"A gate that lets through the notes of a scale\" ;\n";
  out += std::string(kMaintainer) + " .\n";

  // LV2 versions have no major number (that is the URI's business).
  const UInt32 minor = (bundle.version >> 8) & 0xFF;
  const UInt32 micro = bundle.version & 0xFF;
  for (const DescribedPlugin& plugin : bundle.plugins) {
    out += "\n<" + std::string(plugin.variant.uri) + ">\n";
    out += "\ta lv2:Plugin , lv2:GatePlugin ;\n";
    out += "\tdoap:name " + QuotedText(plugin.variant.name) + " ;\n";
    out += "\trdfs:comment " + QuotedText(plugin.variant.comment) + " ;\n";
    out += "\tlv2:project <" + std::string(kProjectURI) + "> ;\n";
    out += "\tpg:mainInput " + GroupURI(plugin.ports.MainInput()) + " ;\n";
    out += "\tpg:mainOutput " + GroupURI(plugin.ports.MainOutput()) + " ;\n";
    out += "\tdoap:license <https://spdx.org/licenses/GPL-3.0-or-later> ;\n";
    out += "\tlv2:minorVersion " + std::to_string(minor) + " ;\n";
    out += "\tlv2:microVersion " + std::to_string(micro) + " ;\n";
    out += "\tlv2:optionalFeature lv2:hardRTCapable , opts:options , urid:map ;\n";
    out += "\topts:supportedOption bufsz:maxBlockLength ;\n";
    const std::vector<PortSpec>& ports = plugin.ports.Ports();
    for (std::size_t i = 0; i < ports.size(); ++i) {
      out += i == 0 ? "\tlv2:port [\n" : "\t] , [\n";
      WritePort(out, ports[i]);
    }
    out += ports.empty() ? "\ta lv2:Plugin .\n" : "\t] .\n";
  }
  return out;
}

}  // namespace varsile::lv2

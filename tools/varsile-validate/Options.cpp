#include "Options.h"

#include "Text.h"

namespace varsile::validate {

namespace {

UInt32 Code(const std::string& option, const std::string& value) {
  const std::optional<UInt32> code = ParseFourCC(value);
  if (!code) {
    throw UsageError(option + " wants four printable characters or 0x and up to eight hex digits, not '" +
                     value + "'");
  }
  return *code;
}

}  // namespace

Options ParseOptions(std::span<const std::string> arguments) {
  Options options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string option = arguments[i];
    std::string value;
    bool inlineValue = false;
    if (const std::size_t equals = option.find('=');
        option.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = option.substr(equals + 1);
      option = option.substr(0, equals);
      inlineValue = true;
    }
    const auto next = [&]() -> std::string {
      if (inlineValue) return value;
      if (i + 1 >= arguments.size()) throw UsageError(option + " needs a value");
      return arguments[++i];
    };
    const auto flag = [&] {
      if (inlineValue) throw UsageError(option + " takes no value");
    };
    if (option == "-h" || option == "--help") {
      flag();
      options.help = true;
    } else if (option == "-q" || option == "--quiet") {
      flag();
      options.quiet = true;
    } else if (option == "--list-groups") {
      flag();
      options.listGroups = true;
    } else if (option == "--type") {
      options.query.type = Code(option, next());
    } else if (option == "--subtype") {
      options.query.subtype = Code(option, next());
    } else if (option == "--manufacturer") {
      options.query.manufacturer = Code(option, next());
    } else if (option == "--load") {
      const std::string path = next();
      if (path.empty()) throw UsageError("--load needs a path");
      options.query.loads.push_back(path);
    } else if (option == "--group") {
      options.groups.push_back(next());
    } else {
      throw UsageError("unknown option '" + arguments[i] + "'");
    }
  }
  return options;
}

std::string Usage() {
  return "usage: varsile-validate [--load PATH]... [--type CODE] [--subtype CODE] [--manufacturer CODE]\n"
         "                        [--group NAME]... [--quiet] [--list-groups]\n"
         "\n"
         "Opens an audio unit through the host calls and checks it as a careful host would.\n"
         "\n"
         "  --load PATH          load a component manifest, or every manifest in a folder\n"
         "                       (default: the folders of VARSILE_COMPONENT_PATH)\n"
         "  --type CODE          component type, e.g. aufx (default: the first effect found,\n"
         "                       or the component of the one manifest loaded)\n"
         "  --subtype CODE       component subtype, e.g. vgat\n"
         "  --manufacturer CODE  manufacturer, e.g. Vrsl\n"
         "  --group NAME         run only this group of checks (repeatable)\n"
         "  --list-groups        list the groups of checks and exit\n"
         "  -q, --quiet          print failures and the summary only\n"
         "\n"
         "Exit status: 0 when every check passed, 1 when any failed, 2 for a usage error or a\n"
         "component that cannot be found.\n";
}

}  // namespace varsile::validate

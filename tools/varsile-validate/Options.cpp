#include "Options.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include "Text.h"

namespace varsile::validate {

namespace {

void AddCode(CLI::App& app, const std::string& name, UInt32& code) {
  app.add_option_function<std::string>(name,
                                       [&code, name](const std::string& text) {
                                         const std::optional<UInt32> parsed = ParseFourCC(text);
                                         if (!parsed) {
                                           throw CLI::ValidationError(fmt::format(
                                               "{} wants four printable characters or 0x and up to "
                                               "eight hex digits, not '{}'",
                                               name, text));
                                         }
                                         code = *parsed;
                                       })
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

}  // namespace

Options ParseOptions(std::span<const std::string> arguments) {
  Options options;
  CLI::App app("", "varsile-validate");
  app.set_help_flag();
  app.allow_extras();
  app.add_flag("-h,--help", options.help)->disable_flag_override();
  app.add_flag("-q,--quiet", options.quiet)->disable_flag_override();
  app.add_flag("--list-groups", options.listGroups)->disable_flag_override();
  AddCode(app, "--type", options.query.type);
  AddCode(app, "--subtype", options.query.subtype);
  AddCode(app, "--manufacturer", options.query.manufacturer);
  app.add_option_function<std::vector<std::string>>("--load",
                                                    [&options](const std::vector<std::string>& paths) {
                                                      for (const std::string& path : paths) {
                                                        if (path.empty())
                                                          throw CLI::ValidationError("--load needs a path");
                                                      }
                                                      options.query.loads = paths;
                                                    });
  app.add_option("--group", options.groups);
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch& error) {
    // "--type: 1 required TEXT missing", or "quiet was given a disallowed flag override".
    const std::string_view message = error.what();
    const std::string name(message.substr(0, message.find_first_of(": ")));
    if (name.starts_with("--")) throw CLI::ValidationError(name + " needs a value");
    throw CLI::ValidationError(fmt::format("--{} takes no value", name));
  }
  for (const std::string& extra : app.remaining())
    throw CLI::ValidationError(fmt::format("unknown option '{}'", extra));
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

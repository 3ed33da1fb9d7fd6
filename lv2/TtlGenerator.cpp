// varsile-lv2-ttl BUNDLE_DIR BINARY
// Writes manifest.ttl, the plug-in description and the presets into
// BUNDLE_DIR from the parameters of the components whose manifests are
// there; BINARY is the LV2 object's file name inside the bundle.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "BundleDescriber.h"

namespace {

// Written beside the target and renamed, so that a failed run leaves the
// previous file (or none), never half of one.
void WriteFile(const std::filesystem::path& path, const std::string& text) {
  const std::filesystem::path temporary = path.string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + temporary.string());
  }
  std::filesystem::rename(temporary, path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: varsile-lv2-ttl BUNDLE_DIR BINARY\n");
    return 2;
  }
  try {
    using namespace varsile::lv2;
    const BundleDescription bundle = DescribeBundle(argv[1], argv[2]);
    const std::filesystem::path folder(argv[1]);
    WriteFile(folder / "manifest.ttl", ManifestTurtle(bundle));
    WriteFile(folder / std::string(kPluginDescriptionFile), PluginTurtle(bundle));
    WriteFile(folder / std::string(kPresetsFile), PresetTurtle(bundle));
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "varsile-lv2-ttl: %s\n", error.what());
    return 1;
  }
}

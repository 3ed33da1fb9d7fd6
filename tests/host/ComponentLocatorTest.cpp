#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ComponentLocator.h"
#include "HostTestSupport.h"

namespace {

using varsile::host::ComponentQuery;
using varsile::host::ComponentSearch;
using varsile::host::DefaultManifests;
using varsile::host::DescribeComponent;
using varsile::host::FindComponent;
using varsile::host::FindEffectNamed;
using varsile::host::HostError;
using varsile::host::LocateComponent;

namespace fs = std::filesystem;

class ComponentLocator : public ::testing::Test {
 protected:
  void SetUp() override {
    mFolder = fs::temp_directory_path() / ("varsile-locator-" + std::to_string(getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(mFolder);
    fs::create_directories(mFolder);
  }
  void TearDown() override { fs::remove_all(mFolder); }

  fs::path mFolder;
};

TEST_F(ComponentLocator, DefaultManifestsAreRelativeToTheProgramsFolder) {
  const auto paths =
      DefaultManifests("/opt/x/bin", "../../effect/Varsile.component", "../lib/varsile/Varsile.component");
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[0], "/opt/effect/Varsile.component");
  EXPECT_EQ(paths[1], "/opt/x/lib/varsile/Varsile.component");
  EXPECT_EQ(DefaultManifests("/a", "", "/abs/V.component"), std::vector<std::string>{"/abs/V.component"});
}

TEST_F(ComponentLocator, LoadsTheFirstDefaultManifestThatExists) {
  ComponentSearch search;
  search.defaultManifests = {(mFolder / "missing.component").string(), VARSILE_COMPONENT_MANIFEST};
  EXPECT_EQ(LocateComponent(search), hosttest::GateComponent());
}

TEST_F(ComponentLocator, FindsTheComponentByNameInTheSearchPath) {
  fs::copy_file(VARSILE_COMPONENT_MANIFEST, mFolder / "Varsile.component");
  // The copied manifest names its library relative to itself.
  fs::create_symlink(fs::path(VARSILE_COMPONENT_MANIFEST).parent_path() / "libVarsile.so",
                     mFolder / "libVarsile.so");
  ComponentSearch search;
  search.searchPath = "/nonexistent:" + mFolder.string();
  search.defaultManifests = {"/nonexistent/never/used.component"};
  const AudioComponent found = LocateComponent(search);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found, FindEffectNamed("Varsile"));
}

TEST_F(ComponentLocator, SaysWhereItLookedWhenNothingIsThere) {
  ComponentSearch search;
  search.defaultManifests = {"/nowhere/a.component", "/nowhere/b.component"};
  try {
    LocateComponent(search);
    FAIL() << "no throw";
  } catch (const HostError& error) {
    EXPECT_STREQ(error.what(),
                 "cannot find Varsile.component (looked for /nowhere/a.component, /nowhere/b.component); "
                 "set VARSILE_COMPONENT_PATH to the folder that holds it");
  }
}

TEST_F(ComponentLocator, ReportsTheLoadersMessageForABrokenManifest) {
  const fs::path manifest = mFolder / "Varsile.component";
  std::ofstream(manifest) << "type aufx\ncolour blue\n";
  ComponentSearch search;
  search.defaultManifests = {manifest.string()};
  try {
    LocateComponent(search);
    FAIL() << "no throw";
  } catch (const HostError& error) {
    EXPECT_EQ(std::string(error.what()).rfind(manifest.string() + ": line 2:", 0), 0u) << error.what();
  }
}

TEST_F(ComponentLocator, ASearchPathWithoutTheComponentSaysSo) {
  ComponentSearch search;
  search.componentName = "Nothing By This Name";
  search.searchPath = mFolder.string();
  try {
    LocateComponent(search);
    FAIL() << "no throw";
  } catch (const HostError& error) {
    EXPECT_EQ(std::string(error.what()),
              "no component named Nothing By This Name in VARSILE_COMPONENT_PATH (" + mFolder.string() + ")");
  }
}

TEST_F(ComponentLocator, AValidatorFindsWhatItLoadedAndSaysWhatItCannotFind) {
  std::ostringstream log;
  ComponentQuery query;
  query.loads = {VARSILE_COMPONENT_MANIFEST};
  const std::string described = DescribeComponent(FindComponent(query, log));
  EXPECT_EQ(described.rfind("\"Varsile\" ('aufx' 'vgat' 'Vrsl'), version 0x", 0), 0u) << described;
  EXPECT_EQ(log.str(), "loaded " VARSILE_COMPONENT_MANIFEST "\n");

  query.loads = {mFolder.string()};
  query.subtype = 0x76676174;  // 'vgat'
  EXPECT_EQ(FindComponent(query, log).component, hosttest::GateComponent()) << "a zero field matches any";
  query.type = 0x61756d75;  // 'aumu'
  try {
    FindComponent(query, log);
    FAIL() << "no throw";
  } catch (const HostError& error) {
    EXPECT_STREQ(error.what(), "no component matches 'aumu' 'vgat' *");
  }
  EXPECT_THROW(FindComponent({{(mFolder / "missing.component").string()}}, log), HostError);
}

}  // namespace

// Loading component modules: a real shared library (the fake component
// module) described by manifests that each test writes into a folder of its own.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "HostFakeComponent.h"

namespace fs = std::filesystem;

namespace host_test {
namespace {

const char* const kModule = VARSILE_FAKE_COMPONENT_MODULE;

std::string GoodManifest(const std::string& subtype, const std::string& library = kModule) {
  return "# the fake module\n"
         "type aufx\n"
         "subtype " +
         subtype +
         "\n"
         "manufacturer Ld00\n"
         "name Fake module\n"
         "version 0x00020003\n"
         "entry FakeModuleEntry\n"
         "library " +
         library + "\n";
}

class HostLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(::testing::TempDir()) / "host-loader-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    mFolder = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(mFolder, ignored);
  }

  std::string Write(const std::string& fileName, const std::string& text, const fs::path& folder = {}) {
    const fs::path path = (folder.empty() ? mFolder : folder) / fileName;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  fs::path mFolder;
};

TEST_F(HostLoader, LoadsAModuleAndItsRegistrationData) {
  AudioComponent component = nullptr;
  const std::string manifest = Write("Fake.component", GoodManifest("ld01"));
  ASSERT_EQ(AudioComponentLoadManifest(manifest.c_str(), &component), noErr) << AudioComponentLastLoadError();
  ASSERT_NE(component, nullptr);
  EXPECT_STREQ(AudioComponentLastLoadError(), "");

  const AudioComponentDescription want = Describe(FourCC("aufx"), FourCC("ld01"), FourCC("Ld00"));
  EXPECT_EQ(AudioComponentFindNext(nullptr, &want), component);
  UInt32 version = 0;
  EXPECT_EQ(AudioComponentGetVersion(component, &version), noErr);
  EXPECT_EQ(version, 0x00020003u);
  CFStringRef name = nullptr;
  ASSERT_EQ(AudioComponentCopyName(component, &name), noErr);
  char text[32] = {};
  ASSERT_TRUE(CFStringGetCString(name, text, sizeof(text), kCFStringEncodingUTF8));
  EXPECT_STREQ(text, "Fake module");
  CFRelease(name);

  // The module's entry drives a real instance.
  AudioUnit unit = nullptr;
  ASSERT_EQ(AudioComponentInstanceNew(component, &unit), noErr);
  Float32 value = 0;
  EXPECT_EQ(AudioUnitGetParameter(unit, 0, kAudioUnitScope_Global, 0, &value), noErr);
  EXPECT_EQ(value, 42.0f);
  EXPECT_EQ(AudioUnitSetParameter(unit, 0, kAudioUnitScope_Global, 0, -7.25f, 0), noErr);
  EXPECT_EQ(AudioUnitGetParameter(unit, 0, kAudioUnitScope_Global, 0, &value), noErr);
  EXPECT_EQ(value, -7.25f);
  AudioComponentDescription seen{};
  UInt32 size = sizeof(seen);
  EXPECT_EQ(AudioUnitGetProperty(unit, 0x7fff, kAudioUnitScope_Global, 0, &seen, &size), noErr);
  EXPECT_EQ(std::memcmp(&seen, &want, sizeof(seen)), 0) << "the module sees the manifest's description";
  EXPECT_EQ(AudioComponentInstanceDispose(unit), noErr);
}

TEST_F(HostLoader, LibraryPathIsRelativeToTheManifest) {
  fs::create_directory(mFolder / "lib");
  fs::create_symlink(kModule, mFolder / "lib" / "libFake.so");
  AudioComponent component = nullptr;
  const std::string manifest = Write("Relative.component", GoodManifest("ld02", "lib/libFake.so"));
  // Loaded from another working folder, the path still resolves.
  EXPECT_EQ(AudioComponentLoadManifest(manifest.c_str(), &component), noErr) << AudioComponentLastLoadError();
  EXPECT_NE(component, nullptr);
}

TEST_F(HostLoader, LoadingAManifestTwiceRegistersOnce) {
  const std::string manifest = Write("Twice.component", GoodManifest("ld03"));
  AudioComponent first = nullptr;
  AudioComponent second = nullptr;
  ASSERT_EQ(AudioComponentLoadManifest(manifest.c_str(), &first), noErr);
  const UInt32 count = AudioComponentCount(nullptr);
  // The same file reached through a different spelling of its path.
  const std::string other = (mFolder / "." / "Twice.component").string();
  ASSERT_EQ(AudioComponentLoadManifest(other.c_str(), &second), noErr);
  EXPECT_EQ(first, second);
  EXPECT_EQ(AudioComponentCount(nullptr), count);
  EXPECT_EQ(AudioComponentLoadManifest(manifest.c_str(), nullptr), noErr);
}

TEST_F(HostLoader, TextDetails) {
  struct Case {
    const char* name;
    std::string text;
    AudioComponentDescription want;
  };
  const std::string tail = std::string("name N\nentry FakeModuleEntry\nlibrary ") + kModule + "\n";
  const Case cases[] = {
      {"hex and quoted codes", "type 0x61756678\nsubtype 'l 04'\nmanufacturer 'Ld00'\n" + tail,
       Describe(FourCC("aufx"), FourCC("l 04"), FourCC("Ld00"))},
      {"CRLF, blanks, tabs, comments",
       "\r\n  # comment\r\n\ttype\t aufx \r\nsubtype ld05\r\nmanufacturer Ld00\r\nflags 9\r\n" + tail,
       Describe(FourCC("aufx"), FourCC("ld05"), FourCC("Ld00"), 9)},
      {"byte-order mark", "\xEF\xBB\xBFtype aufx\nsubtype ld07\nmanufacturer Ld00\n" + tail,
       Describe(FourCC("aufx"), FourCC("ld07"), FourCC("Ld00"))},
      {"no final newline",
       "type aufx\nsubtype ld06\nmanufacturer Ld00\nname N\nentry FakeModuleEntry\nlibrary " +
           std::string(kModule),
       Describe(FourCC("aufx"), FourCC("ld06"), FourCC("Ld00"))},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AudioComponent component = nullptr;
    const std::string path = Write("Text" + std::to_string(index++) + ".component", c.text);
    ASSERT_EQ(AudioComponentLoadManifest(path.c_str(), &component), noErr) << AudioComponentLastLoadError();
    AudioComponentDescription got{};
    ASSERT_EQ(AudioComponentGetDescription(component, &got), noErr);
    EXPECT_EQ(std::memcmp(&got, &c.want, sizeof(got)), 0);
    UInt32 version = 1;
    EXPECT_EQ(AudioComponentGetVersion(component, &version), noErr);
    EXPECT_EQ(version, 0u) << "version defaults to 0";
  }
}

TEST_F(HostLoader, EveryFaultGivesAStatusAndAMessageAndRegistersNothing) {
  const std::string module = kModule;
  const std::string rest = "manufacturer Ld00\nname N\nentry FakeModuleEntry\nlibrary " + module + "\n";
  const std::string base = "type aufx\nsubtype ld10\n" + rest;
  struct Case {
    std::string text;
    OSStatus status;
    std::string message;
  };
  const Case cases[] = {
      {"", kComponentLoadErr_ManifestMalformed, "missing key 'type'"},
      {"# only a comment\n", kComponentLoadErr_ManifestMalformed, "missing key 'type'"},
      {"type aufx\nsubtype ld10\nname N\nentry FakeModuleEntry\nlibrary " + module + "\n",
       kComponentLoadErr_ManifestMalformed, "missing key 'manufacturer'"},
      {base + "colour blue\n", kComponentLoadErr_ManifestMalformed, "line 7: unknown key 'colour'"},
      {base + "type aumf\n", kComponentLoadErr_ManifestMalformed, "line 7: 'type' given twice"},
      {"type\n" + rest, kComponentLoadErr_ManifestMalformed, "line 1: 'type' has no value"},
      {"type aufxx\nsubtype ld10\n" + rest, kComponentLoadErr_ManifestMalformed, "line 1: 'type' needs four"},
      {"type auf\nsubtype ld10\n" + rest, kComponentLoadErr_ManifestMalformed, "'type' needs four"},
      {"type au\x01x\nsubtype ld10\n" + rest, kComponentLoadErr_ManifestMalformed, "'type' needs four"},
      {"type 0x\nsubtype ld10\n" + rest, kComponentLoadErr_ManifestMalformed, "'type' needs four"},
      {"type 0x123456789\nsubtype ld10\n" + rest, kComponentLoadErr_ManifestMalformed, "'type' needs four"},
      {"type 0x0\nsubtype ld10\n" + rest, kComponentLoadErr_ManifestMalformed, "'type' must not be zero"},
      {"type aufx\nsubtype 0xZZ\n" + rest, kComponentLoadErr_ManifestMalformed, "'subtype' needs four"},
      {base + "version -1\n", kComponentLoadErr_ManifestMalformed, "'version' needs a 32-bit"},
      {base + "version 4294967296\n", kComponentLoadErr_ManifestMalformed, "'version' needs a 32-bit"},
      {base + "version 99999999999999999999999\n", kComponentLoadErr_ManifestMalformed, "'version' needs"},
      {base + "version 12abc\n", kComponentLoadErr_ManifestMalformed, "'version' needs"},
      {base + "version 1.5\n", kComponentLoadErr_ManifestMalformed, "'version' needs"},
      {base + "flags 0x1FFFFFFFF\n", kComponentLoadErr_ManifestMalformed, "'flags' needs"},
      {"type aufx\nsubtype ld10\nmanufacturer Ld00\nname N\nentry 1abc\nlibrary x\n",
       kComponentLoadErr_ManifestMalformed, "'entry' must be a C symbol name"},
      {"type aufx\nsubtype ld10\nmanufacturer Ld00\nname N\nentry a-b\nlibrary x\n",
       kComponentLoadErr_ManifestMalformed, "'entry' must be a C symbol name"},
      {"type aufx\nsubtype ld10\nmanufacturer Ld00\nname \xC3\x28\nentry E\nlibrary x\n",
       kComponentLoadErr_ManifestMalformed, "'name' is not valid UTF-8"},
      {"type aufx\nsubtype ld10\nmanufacturer Ld00\nname \xED\xA0\x80\nentry E\nlibrary x\n",
       kComponentLoadErr_ManifestMalformed, "'name' is not valid UTF-8"},
      {std::string("type aufx\0\n", 11) + "subtype ld10\n" + rest, kComponentLoadErr_ManifestMalformed,
       "NUL byte"},
      {std::string(70000, '#'), kComponentLoadErr_ManifestUnreadable, "larger than"},
      {"type aufx\nsubtype ld10\nmanufacturer Ld00\nname N\nentry FakeModuleEntry\nlibrary "
       "no/such/libFake.so\n",
       kComponentLoadErr_LibraryNotLoaded, "cannot load library"},
      {"type aufx\nsubtype ld10\nmanufacturer Ld00\nname N\nentry NoSuchEntry\nlibrary " + module + "\n",
       kComponentLoadErr_EntryNotFound, "has no entry 'NoSuchEntry'"},
  };
  const UInt32 count = AudioComponentCount(nullptr);
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(index);
    const std::string path = Write("Bad" + std::to_string(index++) + ".component", c.text);
    AudioComponent component = reinterpret_cast<AudioComponent>(&index);
    EXPECT_EQ(AudioComponentLoadManifest(path.c_str(), &component), c.status);
    EXPECT_EQ(component, reinterpret_cast<AudioComponent>(&index)) << "untouched on failure";
    const std::string message = AudioComponentLastLoadError();
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    EXPECT_EQ(message.rfind(path, 0), 0u) << "starts with the manifest's path: " << message;
  }
  EXPECT_EQ(AudioComponentCount(nullptr), count);

  EXPECT_EQ(AudioComponentLoadManifest((mFolder / "missing.component").c_str(), nullptr),
            kComponentLoadErr_ManifestUnreadable);
  EXPECT_NE(std::string(AudioComponentLastLoadError()).find("no such file"), std::string::npos);
  EXPECT_EQ(AudioComponentLoadManifest(mFolder.c_str(), nullptr), kComponentLoadErr_ManifestUnreadable);
  EXPECT_NE(std::string(AudioComponentLastLoadError()).find("not a regular file"), std::string::npos);
  EXPECT_EQ(AudioComponentLoadManifest(nullptr, nullptr), kAudio_ParamError);
  EXPECT_EQ(AudioComponentLoadManifest("", nullptr), kAudio_ParamError);
  EXPECT_STRNE(AudioComponentLastLoadError(), "");
  EXPECT_EQ(AudioComponentCount(nullptr), count);
}

TEST_F(HostLoader, RandomDamageNeverCrashes) {
  const std::string good = GoodManifest("ld20");
  std::mt19937 random(2024);
  const UInt32 before = AudioComponentCount(nullptr);
  UInt32 loaded = 0;
  for (int round = 0; round < 400; ++round) {
    std::string text = good;
    const int damage = 1 + static_cast<int>(random() % 4);
    for (int d = 0; d < damage; ++d) {
      const std::size_t at = random() % text.size();
      switch (random() % 3) {
        case 0:
          text[at] = static_cast<char>(random() % 256);
          break;
        case 1:
          text.erase(at, 1 + random() % 8);
          break;
        default:
          text.insert(at, 1, static_cast<char>(random() % 256));
          break;
      }
      if (text.empty()) text = "x";
    }
    const std::string path = Write("Random" + std::to_string(round) + ".component", text);
    const OSStatus status = AudioComponentLoadManifest(path.c_str(), nullptr);
    if (status == noErr) {
      ++loaded;  // damage that left a valid manifest (e.g. inside the comment)
    } else {
      EXPECT_STRNE(AudioComponentLastLoadError(), "");
    }
  }
  EXPECT_EQ(AudioComponentCount(nullptr), before + loaded);
}

TEST_F(HostLoader, LoadsEveryManifestOfAFolderInNameOrder) {
  Write("b.component", GoodManifest("ld31"));
  Write("a.component", GoodManifest("ld30"));
  Write("c.component", "type aufx\n");
  Write("readme.txt", "not a manifest");
  fs::create_directory(mFolder / "sub.component");
  fs::create_directory(mFolder / "nested");
  Write("d.component", GoodManifest("ld32"), mFolder / "nested");

  EXPECT_EQ(AudioComponentLoadDirectory(mFolder.c_str()), 2u);
  const std::string message = AudioComponentLastLoadError();
  EXPECT_NE(message.find("c.component: missing key 'subtype'"), std::string::npos) << message;
  EXPECT_NE(message.find("sub.component: not a regular file"), std::string::npos) << message;
  EXPECT_EQ(message.find("readme"), std::string::npos) << message;

  AudioComponentDescription maker = Describe(0, 0, FourCC("Ld00"));
  AudioComponent a = nullptr;
  AudioComponent b = nullptr;
  for (AudioComponent c = AudioComponentFindNext(nullptr, &maker); c; c = AudioComponentFindNext(c, &maker)) {
    AudioComponentDescription desc{};
    AudioComponentGetDescription(c, &desc);
    if (desc.componentSubType == FourCC("ld30")) a = c;
    if (desc.componentSubType == FourCC("ld31")) {
      EXPECT_NE(a, nullptr) << "a.component loads before b.component";
      b = c;
    }
    EXPECT_NE(desc.componentSubType, FourCC("ld32")) << "subfolders are not searched";
  }
  EXPECT_TRUE(a && b);

  EXPECT_EQ(AudioComponentLoadDirectory((mFolder / "none").c_str()), 0u);
  EXPECT_NE(std::string(AudioComponentLastLoadError()).find("cannot read the folder"), std::string::npos);
  EXPECT_EQ(AudioComponentLoadDirectory(nullptr), 0u);
}

TEST_F(HostLoader, SearchPathListAndEnvironment) {
  const fs::path one = mFolder / "one";
  const fs::path two = mFolder / "two";
  fs::create_directory(one);
  fs::create_directory(two);
  Write("x.component", GoodManifest("ld40"), one);
  Write("y.component", GoodManifest("ld41"), two);
  Write("z.component", GoodManifest("ld42"), two);

  const std::string list = ":" + one.string() + "::" + two.string() + ":" + (mFolder / "gone").string();
  EXPECT_EQ(AudioComponentLoadPath(list.c_str()), 3u);
  EXPECT_NE(std::string(AudioComponentLastLoadError()).find("gone"), std::string::npos);

  ASSERT_EQ(setenv("VARSILE_COMPONENT_PATH", two.c_str(), 1), 0);
  EXPECT_EQ(AudioComponentLoadPath(nullptr), 2u);
  EXPECT_STREQ(AudioComponentLastLoadError(), "");
  ASSERT_EQ(unsetenv("VARSILE_COMPONENT_PATH"), 0);
  EXPECT_EQ(AudioComponentLoadPath(nullptr), 0u);
}

TEST_F(HostLoader, LastErrorBelongsToItsThread) {
  EXPECT_NE(AudioComponentLoadManifest((mFolder / "missing.component").c_str(), nullptr), noErr);
  const std::string mine = AudioComponentLastLoadError();
  EXPECT_NE(mine, "");
  std::string other = "unset";
  std::thread([&] { other = AudioComponentLastLoadError(); }).join();
  EXPECT_EQ(other, "");
  EXPECT_EQ(mine, AudioComponentLastLoadError());
}

TEST_F(HostLoader, ConcurrentLoadsOfOneManifestRegisterItOnce) {
  const std::string manifest = Write("Shared.component", GoodManifest("ld50"));
  const UInt32 count = AudioComponentCount(nullptr);
  AudioComponent found[4] = {};
  std::vector<std::thread> threads;
  for (auto& slot : found) {
    threads.emplace_back(
        [&manifest, &slot] { EXPECT_EQ(AudioComponentLoadManifest(manifest.c_str(), &slot), noErr); });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(AudioComponentCount(nullptr), count + 1);
  for (AudioComponent c : found) EXPECT_EQ(c, found[0]);
}

}  // namespace
}  // namespace host_test

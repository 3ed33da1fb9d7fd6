// Loading component modules at run time: a manifest names the library, the
// entry symbol and the registration data (docs/COMPONENT_MODULES.md).
#include <AudioToolbox/AudioComponentRegistry.h>
#include <AudioUnit/AUComponent.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "ComponentManifest.h"
#include "ComponentRecords.h"

namespace fs = std::filesystem;

namespace {

// A manifest is a dozen short lines; anything this large is not one.
constexpr std::uintmax_t kMaxManifestBytes = 64 * 1024;

thread_local std::string tLastLoadError;

void AppendError(const std::string& message) {
  if (!tLastLoadError.empty()) tLastLoadError += '\n';
  tLastLoadError += message;
}

OSStatus ReadManifest(const fs::path& path, std::string& outText, std::string& outMessage) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) {
    outMessage = fs::exists(path, error) ? "not a regular file" : "no such file";
    return kComponentLoadErr_ManifestUnreadable;
  }
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) {
    outMessage = "cannot read its size: " + error.message();
    return kComponentLoadErr_ManifestUnreadable;
  }
  if (size > kMaxManifestBytes) {
    outMessage = "larger than " + std::to_string(kMaxManifestBytes) + " bytes";
    return kComponentLoadErr_ManifestUnreadable;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    outMessage = "cannot open it";
    return kComponentLoadErr_ManifestUnreadable;
  }
  // The size can lie (files that grow, files of the proc file system); read
  // no more than the limit allows.
  outText.resize(kMaxManifestBytes + 1);
  in.read(outText.data(), static_cast<std::streamsize>(outText.size()));
  if (in.bad()) {
    outMessage = "cannot read it";
    return kComponentLoadErr_ManifestUnreadable;
  }
  outText.resize(static_cast<std::size_t>(in.gcount()));
  if (outText.size() > kMaxManifestBytes) {
    outMessage = "larger than " + std::to_string(kMaxManifestBytes) + " bytes";
    return kComponentLoadErr_ManifestUnreadable;
  }
  return noErr;
}

OSStatus LoadManifest(const char* manifestPath, AudioComponent* outComponent, std::string& outMessage) {
  using varsile::platform::ComponentManifest;
  if (manifestPath == nullptr || *manifestPath == '\0') {
    outMessage = "no manifest path given";
    return kAudio_ParamError;
  }
  outMessage = std::string(manifestPath) + ": ";
  std::string problem;

  std::error_code error;
  fs::path path = fs::weakly_canonical(fs::path(manifestPath), error);
  if (error) path = fs::absolute(fs::path(manifestPath), error);
  if (error) {
    outMessage += "cannot resolve the path: " + error.message();
    return kComponentLoadErr_ManifestUnreadable;
  }

  std::string text;
  if (const OSStatus status = ReadManifest(path, text, problem); status != noErr) {
    outMessage += problem;
    return status;
  }
  ComponentManifest manifest;
  if (const OSStatus status = varsile::platform::ParseComponentManifest(text, manifest, problem);
      status != noErr) {
    outMessage += problem;
    return status;
  }

  const fs::path library = path.parent_path() / fs::path(manifest.mLibrary);
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    outMessage += "cannot load library '" + library.string() + "': " + (reason ? reason : "unknown reason");
    return kComponentLoadErr_LibraryNotLoaded;
  }
  dlerror();
  void* symbol = dlsym(handle, manifest.mEntry.c_str());
  if (symbol == nullptr) {
    const char* reason = dlerror();
    outMessage += "library '" + library.string() + "' has no entry '" + manifest.mEntry + "'" +
                  (reason ? std::string(": ") + reason : std::string());
    dlclose(handle);
    return kComponentLoadErr_EntryNotFound;
  }

  CFStringRef name =
      CFStringCreateWithCString(kCFAllocatorDefault, manifest.mName.c_str(), kCFStringEncodingUTF8);
  if (name == nullptr) {
    outMessage += "cannot make a string of the name";
    dlclose(handle);
    return memFullErr;
  }
  bool alreadyLoaded = false;
  const AudioComponent component = varsile::platform::RegisterLoadedComponent(
      manifest.mDescription, name, manifest.mVersion, reinterpret_cast<AudioComponentEntryProc>(symbol),
      handle, path.string(), &alreadyLoaded);
  if (component == nullptr || alreadyLoaded) {
    // dlopen counts references, so closing ours leaves the first load's open.
    CFRelease(name);
    dlclose(handle);
  }
  if (component == nullptr) {
    outMessage += "out of memory";
    return memFullErr;
  }
  if (outComponent != nullptr) *outComponent = component;
  outMessage.clear();
  return noErr;
}

UInt32 LoadDirectory(const char* directory) {
  if (directory == nullptr || *directory == '\0') {
    AppendError("no folder given");
    return 0;
  }
  std::error_code error;
  std::vector<fs::path> manifests;
  fs::directory_iterator it(directory, error);
  if (error) {
    AppendError(std::string(directory) + ": cannot read the folder: " + error.message());
    return 0;
  }
  for (const fs::directory_iterator end; it != end; it.increment(error)) {
    if (it->path().extension() == ".component") manifests.push_back(it->path());
  }
  if (error) AppendError(std::string(directory) + ": cannot read the whole folder: " + error.message());
  std::sort(manifests.begin(), manifests.end());

  UInt32 loaded = 0;
  for (const fs::path& manifest : manifests) {
    std::string message;
    if (LoadManifest(manifest.c_str(), nullptr, message) == noErr) {
      ++loaded;
    } else {
      AppendError(message);
    }
  }
  return loaded;
}

}  // namespace

extern "C" {

OSStatus AudioComponentLoadManifest(const char* inManifestPath, AudioComponent* outComponent) {
  tLastLoadError.clear();
  try {
    std::string message;
    const OSStatus status = LoadManifest(inManifestPath, outComponent, message);
    if (status != noErr) tLastLoadError = message;
    return status;
  } catch (const std::bad_alloc&) {
    tLastLoadError = "out of memory";
    return memFullErr;
  }
}

UInt32 AudioComponentLoadDirectory(const char* inDirectory) {
  tLastLoadError.clear();
  try {
    return LoadDirectory(inDirectory);
  } catch (const std::bad_alloc&) {
    tLastLoadError = "out of memory";
    return 0;
  }
}

UInt32 AudioComponentLoadPath(const char* inSearchPath) {
  tLastLoadError.clear();
  const char* list = inSearchPath != nullptr ? inSearchPath : std::getenv("VARSILE_COMPONENT_PATH");
  if (list == nullptr) return 0;
  try {
    UInt32 loaded = 0;
    const std::string all(list);
    std::size_t start = 0;
    while (start <= all.size()) {
      std::size_t end = all.find(':', start);
      if (end == std::string::npos) end = all.size();
      if (end > start) loaded += LoadDirectory(all.substr(start, end - start).c_str());
      start = end + 1;
    }
    return loaded;
  } catch (const std::bad_alloc&) {
    AppendError("out of memory");
    return 0;
  }
}

const char* AudioComponentLastLoadError(void) {
  return tLastLoadError.c_str();
}

}  // extern "C"

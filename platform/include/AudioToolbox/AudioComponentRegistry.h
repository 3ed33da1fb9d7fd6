// How components get into the registry that AudioComponentFindNext searches:
// registered by the program that links them in, or loaded at run time from a
// component module (a shared library plus a manifest; docs/COMPONENT_MODULES.md).
// These calls are this stand-in's own; a host on the real platform has none.
#pragma once

#include <AudioUnit/AudioComponent.h>

enum : OSStatus {
  kComponentLoadErr_ManifestUnreadable = -67001,  // missing, not a file, unreadable or too large
  kComponentLoadErr_ManifestMalformed = -67002,   // bad line, unknown or repeated key, bad value, key missing
  kComponentLoadErr_LibraryNotLoaded = -67003,    // the shared library could not be loaded
  kComponentLoadErr_EntryNotFound = -67004,       // the library has no such entry symbol
};

extern "C" {

// Registers a linked-in component and returns its handle, or null when the
// description or entry is null or the type, subtype or manufacturer is zero
// (a zero field means "any" in a search). The name is retained; null names
// become the empty string. Components stay registered for the process' life.
AudioComponent AudioComponentRegister(const AudioComponentDescription* inDesc, CFStringRef inName,
                                      UInt32 inVersion, AudioComponentEntryProc inEntry);

// Loads one component module from its manifest. Loading the same manifest
// again returns the component registered the first time. outComponent may be
// null. On failure nothing is registered, the status says what kind of fault
// it was and AudioComponentLastLoadError() says which one.
OSStatus AudioComponentLoadManifest(const char* inManifestPath, AudioComponent* outComponent);

// Loads every "*.component" manifest in a folder (not its subfolders), in
// name order, and returns how many loaded. Failures do not stop the others;
// their messages are collected, one per line, in AudioComponentLastLoadError().
UInt32 AudioComponentLoadDirectory(const char* inDirectory);

// Loads every folder of a colon-separated list, as AudioComponentLoadDirectory
// does; a null list means the environment variable VARSILE_COMPONENT_PATH.
UInt32 AudioComponentLoadPath(const char* inSearchPath);

// What went wrong in this thread's last load call, or "" if nothing did.
// Valid until this thread's next load call.
const char* AudioComponentLastLoadError(void);

}  // extern "C"

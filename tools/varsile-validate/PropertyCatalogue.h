// What the interface fixes about each property a host may ask for: the size
// of its value, where it lives, whether it can be written, and whether its
// value holds references the caller must release.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <span>

namespace varsile::validate {

enum class ScopeRule {
  Any,  // any scope that has the element
  GlobalOnly,
  GlobalOrInput,
  InputOrOutput,
};

enum class Access {
  ReadOnly,  // info must say not writable, and a set must be refused
  Writable,  // info must say writable
  Varies,    // depends on the scope or the instance's state
};

enum class Payload {
  Plain,          // bytes only
  Reference,      // one new reference the caller releases
  ParameterInfo,  // AudioUnitParameterInfo: its name is released when flagged
  ClumpName,      // AudioUnitParameterNameInfo: inID in, a new reference out
  Preset,         // AUPreset: a new reference to the name
  SetOnly,        // no value to read; setting needs a live resource
};

enum class ElementMeaning {
  Element,      // an element number
  ParameterId,  // the element word carries a parameter id
  Selector,     // the element word carries a selector
};

struct PropertyTraits {
  AudioUnitPropertyID id;
  UInt32 size;       // the value's size, or 0 when it varies
  UInt32 arrayUnit;  // for arrays, the size of one entry; 0 otherwise
  ScopeRule scopes;
  Access access;
  Payload payload;
  ElementMeaning element;
};

std::span<const PropertyTraits> KnownProperties();
const PropertyTraits* FindProperty(AudioUnitPropertyID id);

}  // namespace varsile::validate

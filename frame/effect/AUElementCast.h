// The element of a scope as the derived class a caller expects, or null when
// it is not one. Scopes hold the exact classes AUInputElement and
// AUOutputElement unless a component creates its own: those are recognised
// by comparing the type once, which costs a render a few nanoseconds where
// dynamic_cast's search of the class tree cost it several times that, and
// anything else still goes through dynamic_cast.
#pragma once

#include <typeinfo>

#include "AUElement.h"

template <typename Derived>
Derived* AUElementCast(AUElement* element) noexcept VARSILE_NONBLOCKING {
  if (element == nullptr) return nullptr;
  if (typeid(*element) == typeid(Derived)) return static_cast<Derived*>(element);
  return dynamic_cast<Derived*>(element);
}

template <typename Derived>
const Derived* AUElementCast(const AUElement* element) noexcept VARSILE_NONBLOCKING {
  return AUElementCast<Derived>(const_cast<AUElement*>(element));
}

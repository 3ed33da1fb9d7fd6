// What the entry points make of anything thrown below them: the frame throws
// statuses deep inside and only its entries turn them back into results.
#pragma once

#include <MacTypes.h>

#include <new>

template <class Call>
OSStatus CatchAsStatus(Call&& call) noexcept {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return memFullErr;
  } catch (SInt32 status) {
    return status;
  } catch (SInt16 status) {
    return status;  // sign-extended
  } catch (...) {
    return -1;
  }
}

// Scalar types shared by every platform header.
#pragma once

#include <cstdint>

#include <VarsileRealtime.h>

using UInt8 = std::uint8_t;
using SInt8 = std::int8_t;
using UInt16 = std::uint16_t;
using SInt16 = std::int16_t;
using UInt32 = std::uint32_t;
using SInt32 = std::int32_t;
using UInt64 = std::uint64_t;
using SInt64 = std::int64_t;
using Float32 = float;
using Float64 = double;
using Boolean = unsigned char;
using OSStatus = SInt32;
using OSType = UInt32;
using FourCharCode = UInt32;

enum : OSStatus {
  noErr = 0,
  paramErr = -50,
  memFullErr = -108,
};

static_assert(sizeof(Float32) == 4 && sizeof(Float64) == 8);

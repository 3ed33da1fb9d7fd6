// Numbers, byte data and file URLs.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

class CFScalarTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(CFLiveObjectCount(), mLiveBefore) << "a value leaked or was over-released";
  }
  const CFIndex mLiveBefore = CFLiveObjectCount();
};

template <class T>
CFNumberRef Make(CFNumberType type, T value) {
  return CFNumberCreate(nullptr, type, &value);
}

template <class T>
struct Read {
  T value;
  bool exact;
};

template <class T>
Read<T> Get(CFNumberRef number, CFNumberType type) {
  T value{};
  const bool exact = CFNumberGetValue(number, type, &value);
  return {value, exact};
}

TEST_F(CFScalarTest, SavedStateNumbersRoundTrip) {
  CFNumberRef type = Make<SInt32>(kCFNumberSInt32Type, static_cast<SInt32>(0xAAAA0001u));
  CFNumberRef load = Make<Float32>(kCFNumberFloatType, 0.1f);
  const auto readType = Get<SInt32>(type, kCFNumberSInt32Type);
  EXPECT_TRUE(readType.exact);
  EXPECT_EQ(static_cast<UInt32>(readType.value), 0xAAAA0001u) << "32 bits read as signed, and back";
  const auto readLoad = Get<Float32>(load, kCFNumberFloatType);
  EXPECT_TRUE(readLoad.exact);
  EXPECT_EQ(readLoad.value, 0.1f);
  EXPECT_EQ(CFNumberGetType(type), kCFNumberSInt32Type);
  EXPECT_EQ(CFNumberGetType(load), kCFNumberFloatType);
  EXPECT_FALSE(CFNumberIsFloatType(type));
  EXPECT_TRUE(CFNumberIsFloatType(load));
  EXPECT_EQ(CFGetTypeID(type), CFNumberGetTypeID());

  // -0.0 keeps its sign bit.
  CFNumberRef negativeZero = Make<Float32>(kCFNumberFloat32Type, -0.0f);
  EXPECT_TRUE(std::signbit(Get<Float32>(negativeZero, kCFNumberFloat32Type).value));
  for (CFTypeRef value : {CFTypeRef(type), CFTypeRef(load), CFTypeRef(negativeZero)}) CFRelease(value);
}

TEST_F(CFScalarTest, FloatsReadAsIntegersSaturateAndNeverMisbehave) {
  struct Case {
    double value;
    SInt32 as32;
    SInt64 as64;
    bool exact32;
    bool exact64;
  };
  constexpr SInt32 kMin32 = std::numeric_limits<SInt32>::min(), kMax32 = std::numeric_limits<SInt32>::max();
  constexpr SInt64 kMin64 = std::numeric_limits<SInt64>::min(), kMax64 = std::numeric_limits<SInt64>::max();
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {2.0, 2, 2, true, true},
      {2.75, 2, 2, false, false},
      {-2.75, -2, -2, false, false},
      {std::nan(""), 0, 0, false, false},
      {-std::nan(""), 0, 0, false, false},
      {inf, kMax32, kMax64, false, false},
      {-inf, kMin32, kMin64, false, false},
      {1e300, kMax32, kMax64, false, false},
      {-1e300, kMin32, kMin64, false, false},
      {2147483647.0, kMax32, 2147483647, true, true},
      {2147483648.0, kMax32, 2147483648, false, true},
      {-2147483648.0, kMin32, -2147483648LL, true, true},
      {-2147483649.0, kMin32, -2147483649LL, false, true},
      {9223372036854775808.0, kMax32, kMax64, false, false},  // 2^63
      {-9223372036854775808.0, kMin32, kMin64, false, true},  // -2^63
  };
  for (const Case& c : cases) {
    CFNumberRef number = Make<Float64>(kCFNumberFloat64Type, c.value);
    const auto read32 = Get<SInt32>(number, kCFNumberSInt32Type);
    const auto readInt = Get<int>(number, kCFNumberIntType);
    const auto read64 = Get<SInt64>(number, kCFNumberSInt64Type);
    EXPECT_EQ(read32.value, c.as32) << c.value;
    EXPECT_EQ(read32.exact, c.exact32) << c.value;
    EXPECT_EQ(readInt.value, c.as32) << c.value;
    EXPECT_EQ(read64.value, c.as64) << c.value;
    EXPECT_EQ(read64.exact, c.exact64) << c.value;
    CFRelease(number);
  }
}

TEST_F(CFScalarTest, EveryConversionAgreesWithAWideReference) {
  // long double holds every SInt64 and every double exactly, so it can say
  // what each conversion should give and whether it is exact.
  if (std::numeric_limits<long double>::digits < 64) GTEST_SKIP() << "needs a 64-bit long double mantissa";
  std::mt19937_64 random(20240611);
  // The edges first, then random integers, random bit patterns and random
  // doubles of every magnitude.
  constexpr double inf = std::numeric_limits<double>::infinity();
  std::vector<CFNumberRef> numbers;
  for (double edge :
       {0.1, -0.0, 1e300, -1e300, inf, -inf, std::nan(""), 3.4028235677973366e38, 9223372036854775808.0}) {
    numbers.push_back(Make<Float64>(kCFNumberFloat64Type, edge));
  }
  for (SInt64 edge : {std::numeric_limits<SInt64>::max(), std::numeric_limits<SInt64>::min(),
                      (SInt64{1} << 53) + 1, -(SInt64{1} << 24), SInt64{1} << 31}) {
    numbers.push_back(Make<SInt64>(kCFNumberSInt64Type, edge));
  }
  for (int i = 0; i < 3000; ++i) {
    const int shift = static_cast<int>(random() % 64);
    const auto integer = static_cast<SInt64>(random()) >> shift;
    numbers.push_back(Make<SInt64>(kCFNumberSInt64Type, integer));
    double floating;
    const UInt64 bits = random();
    std::memcpy(&floating, &bits, sizeof floating);
    numbers.push_back(Make<Float64>(kCFNumberDoubleType, floating));
    numbers.push_back(
        Make<Float64>(kCFNumberFloat64Type, std::ldexp(static_cast<double>(integer), shift - 32)));
  }
  const auto expectedInteger = [](long double wide, long double lowest, long double highest, bool& exact) {
    if (std::isnan(wide)) return exact = false, 0.0L;
    const long double clamped = std::fmin(std::fmax(wide, lowest), highest);
    exact = clamped == wide && std::trunc(wide) == wide;
    return std::trunc(clamped);
  };
  for (CFNumberRef number : numbers) {
    long double wide;
    if (CFNumberIsFloatType(number)) {
      wide = Get<Float64>(number, kCFNumberFloat64Type).value;
    } else {
      wide = Get<SInt64>(number, kCFNumberSInt64Type).value;
    }
    bool exact = false;
    const long double as32 =
        expectedInteger(wide, std::numeric_limits<SInt32>::min(), std::numeric_limits<SInt32>::max(), exact);
    const auto read32 = Get<SInt32>(number, kCFNumberSInt32Type);
    EXPECT_EQ(read32.value, as32) << static_cast<double>(wide);
    EXPECT_EQ(read32.exact, exact) << static_cast<double>(wide);

    const long double as64 =
        expectedInteger(wide, std::numeric_limits<SInt64>::min(), std::numeric_limits<SInt64>::max(), exact);
    const auto read64 = Get<SInt64>(number, kCFNumberSInt64Type);
    EXPECT_EQ(read64.value, as64) << static_cast<double>(wide);
    EXPECT_EQ(read64.exact, exact) << static_cast<double>(wide);

    const auto readF32 = Get<Float32>(number, kCFNumberFloat32Type);
    const auto readF64 = Get<Float64>(number, kCFNumberFloat64Type);
    if (std::isnan(wide)) {
      EXPECT_TRUE(std::isnan(readF32.value) && std::isnan(readF64.value));
      EXPECT_TRUE(readF32.exact && readF64.exact);
      continue;
    }
    EXPECT_EQ(readF64.exact, static_cast<long double>(readF64.value) == wide) << static_cast<double>(wide);
    EXPECT_EQ(readF32.exact, static_cast<long double>(readF32.value) == wide) << static_cast<double>(wide);
    if (std::isfinite(wide)) {
      EXPECT_TRUE(std::isfinite(readF32.value)) << "finite values stay finite: " << static_cast<double>(wide);
      // The float is the nearest one (off by at most half a spacing, so by
      // less than the spacing above it), or the largest float for values beyond.
      const long double error = std::fabs(static_cast<long double>(readF32.value) - wide);
      const float magnitude = std::fabs(readF32.value);
      const long double ulp = std::nextafter(magnitude, std::numeric_limits<float>::infinity()) - magnitude;
      if (std::fabs(wide) > std::numeric_limits<float>::max()) {
        EXPECT_EQ(magnitude, std::numeric_limits<float>::max()) << static_cast<double>(wide);
      } else {
        EXPECT_LE(error, ulp) << static_cast<double>(wide);
      }
    }
  }
  for (CFNumberRef number : numbers) CFRelease(number);
}

TEST_F(CFScalarTest, NumbersReadAndWriteUnalignedMemoryAndRefuseBadRequests) {
  alignas(8) unsigned char in[16] = {};
  const double value = 440.0;
  std::memcpy(in + 3, &value, sizeof value);
  CFNumberRef number = CFNumberCreate(nullptr, kCFNumberFloat64Type, in + 3);
  alignas(8) unsigned char out[16] = {};
  EXPECT_TRUE(CFNumberGetValue(number, kCFNumberSInt32Type, out + 1));
  SInt32 read;
  std::memcpy(&read, out + 1, sizeof read);
  EXPECT_EQ(read, 440);

  EXPECT_FALSE(CFNumberGetValue(number, static_cast<CFNumberType>(99), out));
  EXPECT_FALSE(CFNumberGetValue(number, kCFNumberSInt32Type, nullptr));
  EXPECT_EQ(CFNumberCreate(nullptr, static_cast<CFNumberType>(99), in), nullptr);
  EXPECT_EQ(CFNumberCreate(nullptr, kCFNumberSInt32Type, nullptr), nullptr);
  EXPECT_FALSE(CFNumberGetValue(reinterpret_cast<CFNumberRef>(CFSTR("1")), kCFNumberSInt32Type, out))
      << "a string is no number";
  CFRelease(number);
}

TEST_F(CFScalarTest, AppendedBytesFollowOneAnother) {
  CFMutableDataRef data = CFDataCreateMutable(nullptr, 0);
  ASSERT_NE(CFDataGetBytePtr(data), nullptr) << "an empty buffer still has an address";
  EXPECT_EQ(CFDataGetLength(data), 0);
  // A parameter record, big-endian: scope 0, element 0, one parameter.
  std::vector<UInt8> expected;
  for (int record = 0; record < 40; ++record) {
    const UInt8 header[12] = {0, 0, 0, 0, 0, 0, 0, static_cast<UInt8>(record), 0, 0, 0, 1};
    const UInt8 pair[8] = {0, 0, 0, static_cast<UInt8>(record), 0x42, 0xC8, 0, 0};
    CFDataAppendBytes(data, header, sizeof header);
    CFDataAppendBytes(data, pair, sizeof pair);
    CFDataAppendBytes(data, nullptr, 0);
    expected.insert(expected.end(), header, header + sizeof header);
    expected.insert(expected.end(), pair, pair + sizeof pair);
  }
  ASSERT_EQ(CFDataGetLength(data), static_cast<CFIndex>(expected.size()));
  EXPECT_EQ(std::memcmp(CFDataGetBytePtr(data), expected.data(), expected.size()), 0);

  CFDataGetMutableBytePtr(data)[0] = 0xFF;
  EXPECT_EQ(CFDataGetBytePtr(data)[0], 0xFF);
  CFRelease(data);
}

TEST_F(CFScalarTest, CreatedDataCopiesItsBytes) {
  UInt8 bytes[4] = {1, 2, 3, 4};
  CFDataRef data = CFDataCreate(nullptr, bytes, 4);
  bytes[0] = 9;
  EXPECT_EQ(CFDataGetBytePtr(data)[0], 1);
  CFDataRef same = CFDataCreate(nullptr, CFDataGetBytePtr(data), CFDataGetLength(data));
  EXPECT_TRUE(CFEqual(data, same));
  CFDataRef empty = CFDataCreate(nullptr, nullptr, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_NE(CFDataGetBytePtr(empty), nullptr);
  EXPECT_FALSE(CFEqual(data, empty));
  EXPECT_EQ(CFDataCreate(nullptr, nullptr, 3), nullptr);
  EXPECT_EQ(CFDataCreate(nullptr, bytes, -1), nullptr);
  EXPECT_EQ(CFDataGetLength(reinterpret_cast<CFDataRef>(CFSTR("abc"))), 0) << "a string is no data";
  EXPECT_EQ(CFDataGetBytePtr(reinterpret_cast<CFDataRef>(CFSTR("abc"))), nullptr);
  for (CFTypeRef value : {CFTypeRef(data), CFTypeRef(same), CFTypeRef(empty)}) CFRelease(value);
}

TEST_F(CFScalarTest, FileURLsGiveBackTheirPath) {
  CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, CFSTR("/presets/gate//"), kCFURLPOSIXPathStyle, true);
  ASSERT_NE(url, nullptr);
  EXPECT_EQ(CFGetTypeID(url), CFURLGetTypeID());
  CFStringRef path = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
  EXPECT_TRUE(CFEqual(path, CFSTR("/presets/gate")));
  CFRelease(path);

  CFURLRef root = CFURLCreateWithFileSystemPath(nullptr, CFSTR("/"), kCFURLPOSIXPathStyle, true);
  path = CFURLCopyFileSystemPath(root, kCFURLPOSIXPathStyle);
  EXPECT_TRUE(CFEqual(path, CFSTR("/")));
  CFRelease(path);

  EXPECT_EQ(CFURLCreateWithFileSystemPath(nullptr, CFSTR(""), kCFURLPOSIXPathStyle, false), nullptr);
  EXPECT_EQ(CFURLCreateWithFileSystemPath(nullptr, CFSTR("/x"), 2, false), nullptr) << "only POSIX paths";
  EXPECT_EQ(CFURLCopyFileSystemPath(url, 2), nullptr);
  CFRelease(url);
  CFRelease(root);
}

}  // namespace

#include <gtest/gtest.h>

#include "HostError.h"
#include "StatusNames.h"

namespace {

using varsile::host::HostError;
using varsile::host::PropertyName;
using varsile::host::StatusName;
using varsile::host::ThrowIfError;

TEST(StatusNames, KnownStatusesAreNamedWithTheirNumber) {
  EXPECT_EQ(StatusName(kAudioUnitErr_FormatNotSupported), "kAudioUnitErr_FormatNotSupported (-10868)");
  EXPECT_EQ(StatusName(kAudioUnitErr_InvalidPropertyValue), "kAudioUnitErr_InvalidPropertyValue (-10851)");
  EXPECT_EQ(StatusName(kAudio_ParamError), "kAudio_ParamError (-50)");
  EXPECT_EQ(StatusName(badComponentSelector), "badComponentSelector (-2147450878)");
  EXPECT_EQ(StatusName(-67003), "kComponentLoadErr_LibraryNotLoaded (-67003)");
  EXPECT_EQ(StatusName(noErr), "noErr (0)");
}

TEST(StatusNames, UnknownStatusesShowTheNumberOrTheFourCharacterCode) {
  EXPECT_EQ(StatusName(-12345), "status -12345");
  EXPECT_EQ(StatusName(0x77686174), "'what' (2003329396)");
  // Control characters are not a code.
  EXPECT_EQ(StatusName(0x01020304), "status 16909060");
}

TEST(StatusNames, PropertiesAreNamedWithoutThePrefix) {
  EXPECT_EQ(PropertyName(kAudioUnitProperty_StreamFormat), "StreamFormat");
  EXPECT_EQ(PropertyName(kAudioUnitProperty_LastRenderedSampleTime), "LastRenderedSampleTime");
  EXPECT_EQ(PropertyName(4242), "property 4242");
}

TEST(HostErrors, CarryTheActionAndTheStatusAndSayBoth) {
  try {
    ThrowIfError(kAudioUnitErr_Initialized, "setting the block size");
    FAIL() << "no throw";
  } catch (const HostError& error) {
    EXPECT_EQ(error.Status(), kAudioUnitErr_Initialized);
    EXPECT_EQ(error.Action(), "setting the block size");
    EXPECT_STREQ(error.what(), "setting the block size: kAudioUnitErr_Initialized (-10849)");
  }
  EXPECT_NO_THROW(ThrowIfError(noErr, "anything"));
}

}  // namespace

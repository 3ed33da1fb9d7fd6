// The element cast of the render path: the exact classes the frame creates
// are recognised without dynamic_cast, a component's own subclasses still
// are, and anything else is not.
#include "AUElementCast.h"
#include "FrameTestSupport.h"

using namespace frametest;

namespace {

class TappedInput : public AUInputElement {
 public:
  using AUInputElement::AUInputElement;
};

// A component whose inputs are its own subclass of AUInputElement.
class TappedAU : public TestAU {
 public:
  AUElement* CreateElement(AudioUnitScope scope, AudioUnitElement element) override {
    if (scope == kAudioUnitScope_Input) return new TappedInput(this);
    return TestAU::CreateElement(scope, element);
  }
};

TEST(AUElementCast, TellsTheFrameClassesApart) {
  auto au = Open();
  AUElement* input = au->Inputs().GetElement(0);
  AUElement* output = au->Outputs().GetElement(0);
  AUElement* global = au->Globals().GetElement(0);
  ASSERT_NE(input, nullptr);
  ASSERT_NE(output, nullptr);

  EXPECT_EQ(AUElementCast<AUInputElement>(input), input);
  EXPECT_EQ(AUElementCast<AUOutputElement>(output), output);
  EXPECT_EQ(AUElementCast<AUOutputElement>(input), nullptr);
  EXPECT_EQ(AUElementCast<AUInputElement>(output), nullptr);
  EXPECT_EQ(AUElementCast<AUInputElement>(global), nullptr);
  // A base class is found the long way.
  EXPECT_EQ(AUElementCast<AUIOElement>(input), static_cast<AUIOElement*>(au->GetInput(0)));
  EXPECT_EQ(AUElementCast<AUIOElement>(global), nullptr);
  EXPECT_EQ(AUElementCast<AUInputElement>(static_cast<AUElement*>(nullptr)), nullptr);
  const AUElement* constInput = input;
  EXPECT_EQ(AUElementCast<AUInputElement>(constInput), input);
  Close(au);
}

TEST(AUElementCast, AComponentsOwnSubclassStillCounts) {
  auto au = Open<TappedAU>();
  AUElement* input = au->Inputs().GetElement(0);
  ASSERT_NE(dynamic_cast<TappedInput*>(input), nullptr);
  EXPECT_EQ(AUElementCast<AUInputElement>(input), input);
  EXPECT_EQ(au->GetInput(0), input);
  EXPECT_EQ(au->GetIOElement(kAudioUnitScope_Input, 0), input);
  Close(au);
}

}  // namespace

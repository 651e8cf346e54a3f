#include "ozo/module.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <type_traits>

#include "host/service_host.h"
#include "ozo/object/module_count.h"
#include "ozo/object/object_impl.h"
#include "tests/support/recording_host.h"

namespace {

struct ITestThing : ozo::IObject {
  static constexpr ozo::iid_t IID = 0x7E57;
  virtual int Value() = 0;

 protected:
  ~ITestThing() = default;
};

// A holder converts to a holder of a base interface only; a downcast is
// QueryInterface's job and does not compile.
static_assert(std::is_constructible_v<ozo::ref_ptr<ozo::IObject>, const ozo::ref_ptr<ITestThing>&>);
static_assert(std::is_constructible_v<ozo::ref_ptr<ozo::IObject>, ozo::ref_ptr<ITestThing>&&>);
static_assert(!std::is_constructible_v<ozo::ref_ptr<ITestThing>, const ozo::ref_ptr<ozo::IObject>&>);
static_assert(!std::is_constructible_v<ozo::ref_ptr<ITestThing>, ozo::ref_ptr<ozo::IObject>&&>);

// A module class for exercising the object model.
class Thing : public ozo::object::Ifaces<ITestThing>, ozo::object::NonCopyable {
 public:
  explicit Thing(bool fail) {
    if (fail) throw std::runtime_error("constructor failed");
  }
  int Value() override { return 7; }

 protected:
  ~Thing() = default;
};

using ThingObject = ozo::detail::ObjectImpl<Thing>;

std::uint32_t LiveObjects() { return ozo::detail::ModuleObjectCount().load(); }

TEST(ObjectModel, AFailingConstructorLeavesNothingBehind) {
  EXPECT_THROW(ThingObject::Create(true), std::runtime_error);
  EXPECT_EQ(LiveObjects(), 0u);
}

class UnknownClassTest : public testing::TestWithParam<ozo::clsid_t> {};

TEST_P(UnknownClassTest, IsClassNotFoundWithoutTouchingAnything) {
  test::RecordingHost host;
  ozo::IObject* object = reinterpret_cast<ozo::IObject*>(0x1);
  EXPECT_EQ(ozoCreateObject(GetParam(), host.locatorAddress(), &object), ozo::results::ClassNotFound);
  EXPECT_EQ(object, reinterpret_cast<ozo::IObject*>(0x1));
  EXPECT_EQ(host.faults().calls(), 0u);  // the locator was not asked for anything
  EXPECT_TRUE(host.traceLines().empty());
  EXPECT_EQ(ozoCreateObject(GetParam(), nullptr, nullptr), ozo::results::ClassNotFound);
  EXPECT_EQ(LiveObjects(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Ids, UnknownClassTest, testing::Values(0u, 1u, 0xBAD1BAD1u, 0xFFFFFFFFu));

}  // namespace

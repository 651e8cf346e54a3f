#include "ozo/error_handling/exception.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "host/service_host.h"
#include "ozo/error_handling/result_from_exception.h"
#include "tests/support/recording_host.h"

namespace {

using ozo::PropertyKind;

// The part of what() before the call stack lines.
std::string Head(const std::exception& e) {
  const std::string text = e.what();
  const std::size_t stack = text.find("Call stack:\n");
  return stack == std::string::npos ? text : text.substr(0, stack + 12);
}

TEST(ExceptionWhat, WithoutDataIsUnknownException) {
  ozo::exception e("file", 1, ozo::exception::NoData{});
  EXPECT_STREQ(e.what(), "Unknown exception");
}

TEST(ExceptionWhat, WithoutPropertiesHasOneSpaceBeforeTheCallStack) {
  ozo::exception e("dir/file", 12, "Something broke");
  EXPECT_STREQ(e.what(), "dir/file(12): Something broke. Call stack:\n");
}

TEST(ExceptionWhat, FailedCheckListsItsResultAndACallStack) {
  try {
    ozo::ThrowCheckFailed("ivo_tracing/tracing", 79, ozo::results::AccessDenied);
  } catch (const ozo::CheckResultFailedException& e) {
    EXPECT_EQ(Head(e), "ivo_tracing/tracing(79): Expression failed. Properties:\nozo.result=0x80000045\nCall stack:\n");
    EXPECT_FALSE(e.data()->callStack.empty());
    EXPECT_EQ(std::string(e.what()).find(" 0# "), Head(e).size());
    return;
  }
  FAIL() << "nothing thrown";
}

TEST(ExceptionWhat, PrintsEachPropertyKind) {
  ozo::exception e("f", 1, "d");
  e.SetInt32("i32", -1);
  e.SetUInt32("u32", 7);
  e.SetProperty("i64", PropertyKind::Int64, std::int64_t{-1});
  e.SetProperty("u64", PropertyKind::UInt64, std::uint64_t{0xABC});
  e.SetText("text", "hello");
  e.SetProperty("wide", PropertyKind::WideText, std::u16string(u"wide"));
  e.SetProperty("odd", static_cast<PropertyKind>(99), std::uint64_t{1});
  EXPECT_EQ(Head(e),
            "f(1): d. Properties:\ni32=0xffffffff\nu32=0x00000007\ni64=0xffffffffffffffff\nu64=0x0000000000000abc\n"
            "text=hello\nwide=wide\nodd=<typeid=99>\nCall stack:\n");
}

TEST(ExceptionDescription, ResultCodeExceptionAddsTheCodeAndItsMessage) {
  ozo::ResultCodeException withMessage("f", 1, ozo::results::NotFound, u"Lookup");
  EXPECT_EQ(withMessage.GetDescription(), u"Lookup: 0x8000004c (Not found)");
  ozo::CheckResultFailedException failedCheck("f", 1, "Expression failed", ozo::results::NotFound);
  EXPECT_EQ(failedCheck.GetDescription(), u"0x8000004c (Not found)");
}

struct ResultCase {
  const char* name;
  std::function<void()> raise;
  std::uint32_t result;
  const char* text;  // what the conversion writes after the context
};

class ResultFromExceptionTest : public testing::TestWithParam<ResultCase> {};

TEST_P(ResultFromExceptionTest, ConvertsAndTraces) {
  test::RecordingHost host;
  ozo::result_t result = 0;
  try {
    GetParam().raise();
  } catch (...) {
    result = ozo::ResultFromCurrentException(&host.tracer(), "Operation");
  }
  EXPECT_EQ(static_cast<std::uint32_t>(result), GetParam().result);
  ASSERT_EQ(host.tracer().lines().size(), 1u);
  EXPECT_EQ(host.tracer().lines()[0].level, 300u);
  const std::string text = host.tracer().lines()[0].text;
  EXPECT_EQ(text.substr(0, std::string(GetParam().text).size() + 10), std::string("Operation ") + GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResultFromExceptionTest,
    testing::Values(
        ResultCase{"ResultCode", [] { throw ozo::ResultCodeException("f", 3, ozo::results::NotFound, u"m"); },
                   0x8000004C, "m: 0x8000004c (Not found). At f(3) "},
        ResultCase{"ResultCodeSuccess", [] { throw ozo::ResultCodeException("f", 3, 0, u""); }, 0x80000152,
                   "0x00000000 (No error). At f(3) "},
        ResultCase{"TimeError",
                   [] { throw ozo::datetime::TimeSystemError("f", 4, ozo::results::InvalidArgument, u"bad"); },
                   0x80000046, "bad: 0x80000046 (Invalid argument). At f(4) "},
        ResultCase{"PlainExceptionIgnoresItsResult",
                   [] {
                     ozo::Exception e("f", 5, "d", u"msg");
                     e.SetInt32("ozo.result", ozo::results::NotFound);
                     throw e;
                   },
                   0x80000151, "msg. At f(5) "},
        ResultCase{"FrameworkRoot",
                   [] {
                     ozo::exception e("f", 6, "d");
                     e.SetInt32("ozo.result", ozo::results::AccessDenied);
                     throw e;
                   },
                   0x80000045, "f(6): d. Properties:\nozo.result=0x80000045\n"},
        ResultCase{"OsResult",
                   [] {
                     ozo::exception e("f", 6, "d");
                     e.SetUInt32("os.result", 2);
                     throw e;
                   },
                   0x80010102, "f(6): d."},
        ResultCase{"OsModuleResult",
                   [] {
                     ozo::exception e("f", 6, "d");
                     e.SetText("os.module_result", "libx");
                     throw e;
                   },
                   0x80010100, "f(6): d."},
        ResultCase{"WrongKindIsNoResult",
                   [] {
                     ozo::exception e("f", 6, "d");
                     e.SetText("ozo.result", "x");
                     throw e;
                   },
                   0x80000151, "f(6): d."},
        ResultCase{"GetInterface",
                   [] {
                     throw ozo::GetInterfaceException("ozo/rtl/error_handling/../objclient", 103, "Can't get interface",
                                                      0x9CCA5603, 0, ozo::results::NotFound);
                   },
                   0x8000004C,
                   "ozo/rtl/error_handling/../objclient(103): Can't get interface. Properties:\n"
                   "ozo.iid=0x9cca5603\nozo.serviceKey=0x00000000\nozo.result=0x8000004c\n"},
        ResultCase{"BadAlloc", [] { throw std::bad_alloc(); }, 0x80000041, "std::bad_alloc"},
        ResultCase{"BadCast", [] { throw std::bad_cast(); }, 0x80000047, "std::bad_cast"},
        ResultCase{"LengthError", [] { throw std::length_error("ozo::basic_string_t::append()"); }, 0x8000005C,
                   "ozo::basic_string_t::append()"},
        ResultCase{"OutOfRange", [] { throw std::out_of_range("range"); }, 0x8000005E, "range"},
        ResultCase{"InvalidArgument", [] { throw std::invalid_argument("arg"); }, 0x80000046, "arg"},
        ResultCase{"StdException", [] { throw std::runtime_error("runtime"); }, 0x80000151, "runtime"},
        ResultCase{"Anything", [] { throw 42; }, 0x80000072, "unknown exception"}),
    [](const testing::TestParamInfo<ResultCase>& info) { return info.param.name; });

TEST(ResultFromCurrentException, OutsideAHandlerIsNoCurrentException) {
  test::RecordingHost host;
  EXPECT_EQ(ozo::ResultFromCurrentException(&host.tracer(), nullptr), ozo::results::NoCurrentException);
}

TEST(ResultFromCurrentException, NestedExceptionsFollowTheOuterTextAndTheOuterResultWins) {
  test::RecordingHost host;
  ozo::result_t result = 0;
  try {
    try {
      throw std::out_of_range("inner");
    } catch (...) {
      std::throw_with_nested(std::runtime_error("outer"));
    }
  } catch (...) {
    result = ozo::ResultFromCurrentException(&host.tracer(), nullptr);
  }
  EXPECT_EQ(result, ozo::results::ExceptionHasNoResultCode);
  ASSERT_EQ(host.tracer().lines().size(), 1u);
  EXPECT_EQ(host.tracer().lines()[0].text, "outerinner");
}

}  // namespace

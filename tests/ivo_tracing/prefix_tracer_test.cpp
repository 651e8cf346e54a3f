#include <gtest/gtest.h>

#include "host/service_host.h"
#include "ivo_tracing/tracing.h"
#include "ozo/error_handling/exception.h"
#include "ozo/object/module_count.h"
#include "ozo/trace/trace_stream.h"
#include "tests/support/recording_host.h"

namespace {

TEST(PrefixTracer, InnerTracerSeesTheCallerRequestPlusThePrefix) {
  test::RecordingHost host;
  auto tracer = ivo::MakePrefixTracer(host.locator(), "CertificatesStorage");
  ozo::trace::Trace(tracer.get(), 800, std::string(600, 'x'));
  // 512 + 21, then the growth 1024 + 21 at level 1000.
  EXPECT_EQ(host.tracer().requests(), (std::vector<std::size_t>{533, 1045}));
  ASSERT_EQ(host.tracer().lines().size(), 1u);
  EXPECT_EQ(host.tracer().lines()[0].text, "CertificatesStorage::" + std::string(600, 'x'));
}

TEST(PrefixTracer, NullBufferAddressAndZeroSizePassThrough) {
  test::RecordingHost host;
  auto tracer = ivo::MakePrefixTracer(host.locator(), "Name");
  EXPECT_EQ(tracer->ReserveBuffer(800, nullptr, 10), ozo::results::InvalidArgument);  // the host's answer
  // A zero-size request stays zero: such a buffer has no room for the
  // prefix and is never committed.
  char* buffer = nullptr;
  ASSERT_EQ(tracer->ReserveBuffer(800, &buffer, 0), 0);
  EXPECT_EQ(host.tracer().requests().back(), 0u);
}

TEST(PrefixTracer, RefusedLevelGivesNoBuffer) {
  test::RecordingHost host;
  host.tracer().SetThreshold(300);
  auto tracer = ivo::MakePrefixTracer(host.locator(), "Name");
  char* buffer = nullptr;
  EXPECT_LT(tracer->ReserveBuffer(800, &buffer, 512), 0);
  EXPECT_EQ(buffer, nullptr);
}

TEST(PrefixTracer, AnswersItsInterfacesAndHoldsOneModuleUnit) {
  test::RecordingHost host;
  const auto before = ozo::detail::ModuleObjectCount().load();
  {
    auto tracer = ivo::MakePrefixTracer(host.locator(), "Name");
    EXPECT_EQ(ozo::detail::ModuleObjectCount().load(), before + 1);
    ozo::ref_ptr<ozo::trace::IPrefixTracer> prefix;
    ASSERT_EQ(ozo::QueryInterface(tracer.get(), prefix), 0);
    EXPECT_EQ(prefix->GetPrefix()->view(), "Name::");
    EXPECT_EQ(prefix->GetBaseTracer(), &host.tracer());
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(tracer->QueryInterface(0x12345678, &out), ozo::results::InterfaceNotSupported);
    EXPECT_EQ(out, reinterpret_cast<void*>(0x1));
    EXPECT_EQ(tracer->AddRef(), 3u);  // tracer, prefix, this
    EXPECT_EQ(tracer->Release(), 2u);
  }
  EXPECT_EQ(ozo::detail::ModuleObjectCount().load(), before);
}

TEST(MakePrefixTracer, WithoutHostTracerThrowsAFailedCheck) {
  test::RecordingHost host(host::HostOptions::Without({host::Service::Tracer}));
  try {
    ivo::MakePrefixTracer(host.locator(), "Name");
    FAIL() << "no exception";
  } catch (const ozo::CheckResultFailedException& e) {
    EXPECT_STREQ(e.file(), "ivo_tracing/tracing");
    EXPECT_EQ(e.line(), 79);
    EXPECT_EQ(ozo::GetExceptionResult(e), ozo::results::InterfaceNotSupported);
  }
}

}  // namespace

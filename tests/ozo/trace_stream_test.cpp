#include "ozo/trace/trace_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "host/service_host.h"
#include "tests/support/recording_host.h"

namespace {

using namespace ozo::trace;

class TraceStreamTest : public testing::Test {
 protected:
  // The text of the one record written by `write`.
  template <class Write>
  std::string Written(Write write) {
    m_host.ClearTrace();
    {
      TraceStream stream(&m_host.tracer(), 800);
      write(stream);
    }
    const auto lines = m_host.traceLines();
    return lines.empty() ? "<no record>" : lines.back().text;
  }

  test::RecordingHost m_host;
};

struct FormatCase {
  const char* name;
  std::function<void(TraceStream&)> write;
  const char* expected;
};

class TraceFormatTest : public TraceStreamTest, public testing::WithParamInterface<FormatCase> {};

TEST_P(TraceFormatTest, Formats) { EXPECT_EQ(Written(GetParam().write), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Table, TraceFormatTest,
    testing::Values(
        FormatCase{"Decimal", [](TraceStream& s) { s << 42 << ' ' << -42 << ' ' << 0u; }, "42 -42 0"},
        FormatCase{"Hex", [](TraceStream& s) { s << hex << 255u << ' ' << -1; }, "ff ffffffff"},
        FormatCase{"HexShowbase", [](TraceStream& s) { s << hex << showbase << 255u << ' ' << 0u; }, "0xff 0"},
        FormatCase{"OctShowbase", [](TraceStream& s) { s << oct << showbase << 8u; }, "010"},
        FormatCase{"WidthRight", [](TraceStream& s) { s << setw(5) << 42 << 42; }, "   4242"},
        FormatCase{"WidthLeftFill", [](TraceStream& s) { s << left << setfill('*') << setw(5) << 42; }, "42***"},
        FormatCase{"WidthInternalSign", [](TraceStream& s) { s << internal << setw(6) << -42; }, "-   42"},
        FormatCase{"WidthInternalBase",
                   [](TraceStream& s) { s << internal << hex << showbase << setfill('0') << setw(6) << 0xabu; },
                   "0x00ab"},
        FormatCase{"WidthOnText",
                   [](TraceStream& s) {
                     s << setw(4) << "ab"
                       << "cd";
                   },
                   "  abcd"},
        FormatCase{"NullText", [](TraceStream& s) { s << static_cast<const char*>(nullptr); }, "(null)"},
        FormatCase{"Int64Min", [](TraceStream& s) { s << static_cast<std::int64_t>(INT64_MIN); },
                   "-9223372036854775808"},
        FormatCase{"ResultUnknown",
                   [](TraceStream& s) {
                     s << ResultFormatter{ozo::results::Make(0x8001010A), &ozo::GetResultMessage};
                   },
                   "0x8001010a (Unknown result code)"},
        FormatCase{"ResultWithoutMessage",
                   [](TraceStream& s) { s << setw(20) << ResultFormatter{ozo::results::NotFound}; }, "0x8000004c"},
        FormatCase{"Empty", [](TraceStream&) {}, ""}),
    [](const testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

TEST_F(TraceStreamTest, GrowsToTwiceTheCapacityThroughLevel1000) {
  const std::string text(600, 'x');
  EXPECT_EQ(Written([&](TraceStream& s) { s << text; }), text);
  EXPECT_EQ(m_host.tracer().requests().items(), (std::vector<std::size_t>{512, 1024}));
}

TEST_F(TraceStreamTest, RefusedGrowthDiscardsTheTextAndLaterPiecesTryAgain) {
  m_host.tracer().SetRefuseGrowth(true);
  const std::string big(600, 'x');
  EXPECT_EQ(Written([&](TraceStream& s) { s << "lost" << big << "kept"; }), "");
  // After the refusal the capacity is 0, so "kept" asks to grow again.
  EXPECT_EQ(m_host.tracer().requests().items(), (std::vector<std::size_t>{512, 1024, 4}));
}

TEST_F(TraceStreamTest, NothingIsWrittenWithoutTracerOrAboveTheThreshold) {
  TraceStream none(nullptr, 800);
  EXPECT_FALSE(none);
  m_host.base().tracer().SetThreshold(300);
  Trace(&m_host.tracer(), 800, "refused");
  Trace(&m_host.tracer(), 300, "accepted");
  ASSERT_EQ(m_host.traceLines().size(), 1u);
  EXPECT_EQ(m_host.traceLines()[0].text, "accepted");
}

TEST_F(TraceStreamTest, PositiveSuccessCodeFromTheTracerIsNoRecord) {
  m_host.tracer().SetAcceptCode(1);
  Trace(&m_host.tracer(), 800, "text");
  EXPECT_TRUE(m_host.traceLines().empty());
}

TEST_F(TraceStreamTest, FailedReserveAtOpenWritesNothing) {
  m_host.faults().FailOperation("ITracer::ReserveBuffer", ozo::results::OutOfMemory);
  Trace(&m_host.tracer(), 800, "text");
  EXPECT_TRUE(m_host.traceLines().empty());
}

}  // namespace

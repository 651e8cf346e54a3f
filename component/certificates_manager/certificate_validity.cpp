#include "certificates_manager/certificate_validity.h"

#include "ozo/trace/trace_stream.h"

namespace ivo {
namespace {

constexpr int kYear1601 = 1601 - 1900;

// The asctime text of `time` ("Www Mmm dd hh:mm:ss yyyy\n").
struct AscTime {
  explicit AscTime(const std::tm& time) noexcept {
    if (!asctime_r(&time, text)) text[0] = '\0';
  }
  char text[64];
};

}  // namespace

std::int64_t UtcSeconds(const std::tm& time) noexcept {
  const std::int32_t month = time.tm_mon + 1;
  const std::int32_t year = time.tm_year + 1900;
  const std::int32_t a = (14 - month) / 12;
  const std::int32_t y = year + 4800 - a;
  const std::int32_t m = month + 12 * a - 3;
  const std::int64_t days =
      time.tm_mday + (153 * m + 2) / 5 + 365 * static_cast<std::int64_t>(y) + y / 4 - y / 100 + y / 400 - 2472633;
  return ((days * 24 + time.tm_hour) * 60 + time.tm_min) * 60 + time.tm_sec;
}

bool IsCertificateExpired(const Certificate& certificate, ozo::ITracer* tracer, std::time_t now) {
  if (certificate.notAfter.tm_year < kYear1601 || certificate.notBefore.tm_year < kYear1601) {
    ozo::trace::Trace(tracer, ozo::trace_level::Error, "IsCertificateExpired", ": ",
                      "Failed to convert certificate dates");
    return true;
  }
  const std::int64_t notAfter = UtcSeconds(certificate.notAfter);
  const std::int64_t notBefore = UtcSeconds(certificate.notBefore);
  if (now < notAfter && now >= notBefore) return false;
  ozo::trace::TraceStream stream(tracer, ozo::trace_level::Info);
  if (stream) {
    stream << "IsCertificateExpired"
           << ": "
           << "Certificate with parameters:\n"
           << "\t subject: " << certificate.subject << "\n"
           << "\t issuer: " << certificate.issuer << "\n"
           << "\t notAfter " << AscTime(certificate.notAfter).text << "\t notBefore "
           << AscTime(certificate.notBefore).text << "\t Is expired";
  }
  return true;
}

bool IsCertificateExpired(const Certificate& certificate, ozo::ITracer* tracer) {
  return IsCertificateExpired(certificate, tracer, std::time(nullptr));
}

}  // namespace ivo

#include "ivo_tracing/tracing.h"

#include <cstring>

#include "ozo/error_handling/exception.h"

namespace ozo::trace {
namespace {

basic_string_t<char> MakePrefix(std::string_view name) {
  basic_string_t<char> prefix(name.data(), name.size());
  prefix.append("::", 2);
  return prefix;
}

}  // namespace

PrefixTracer::PrefixTracer(ITracer* inner, std::string_view name) : m_inner(inner), m_prefix(MakePrefix(name)) {}

result_t PrefixTracer::ReserveBuffer(std::uint32_t level, char** buffer, std::size_t size) {
  if (!buffer) return m_inner->ReserveBuffer(level, nullptr, size);
  const std::size_t p = m_prefix.size();
  char* inner = *buffer ? *buffer - p : nullptr;
  const result_t result = m_inner->ReserveBuffer(level, &inner, size == 0 ? 0 : size + p);
  *buffer = inner ? inner + p : nullptr;
  return result;
}

result_t PrefixTracer::CommitBuffer(char* buffer, std::size_t length) {
  const std::size_t p = m_prefix.size();
  std::memcpy(buffer - p, m_prefix.data(), p);
  return m_inner->CommitBuffer(buffer - p, length + p);
}

}  // namespace ozo::trace

namespace ivo {

ozo::ref_ptr<ozo::ITracer> MakePrefixTracer(ozo::IServiceLocator* locator, std::string_view name) {
  ozo::ref_ptr<ozo::ITracer> host;
  const ozo::result_t result = ozo::GetInterface(locator, host);
  if (ozo::Failed(result) || !host)
    ozo::ThrowCheckFailed("ivo_tracing/tracing", 79, ozo::Failed(result) ? result : ozo::results::NotFound);
  return ozo::detail::ObjectImpl<ozo::trace::PrefixTracer>::CreateRef<ozo::ITracer>(host.get(), name);
}

}  // namespace ivo

// Per-object tracers: every record of an object starts with its class name.
#pragma once

#include <string_view>

#include "ozo/object/object_impl.h"
#include "ozo/ref_ptr.h"
#include "ozo/services.h"

namespace ozo::trace {

// Decorates an inner tracer with a prefix ("Name::"). The caller's text is
// written after P reserved bytes of the inner tracer's buffer and the prefix
// is copied in front at commit, so the prefix costs no copy of the text.
// Thread-safe as far as the inner tracer is.
class PrefixTracer : public object::Ifaces<ITracer, IPrefixTracer>, object::NonCopyable {
 public:
  // `inner` is borrowed and gets a reference of its own; it must not be null.
  PrefixTracer(ITracer* inner, std::string_view name);

  result_t ReserveBuffer(std::uint32_t level, char** buffer, std::size_t size) override;
  result_t CommitBuffer(char* buffer, std::size_t length) override;
  const basic_string_t<char>* GetPrefix() override { return &m_prefix; }
  ITracer* GetBaseTracer() override { return m_inner.get(); }

 protected:
  ~PrefixTracer() = default;

 private:
  ref_ptr<ITracer> m_inner;
  basic_string_t<char> m_prefix;  // name + "::", on the process heap
};

}  // namespace ozo::trace

namespace ivo {

// The tracer of a component object named `name`: the host's tracer (key 0)
// behind a PrefixTracer. Throws CheckResultFailedException (ivo_tracing/tracing,
// line 79) when the host has no tracer, std::length_error for an impossible
// name length and std::bad_alloc when memory is short.
ozo::ref_ptr<ozo::ITracer> MakePrefixTracer(ozo::IServiceLocator* locator, std::string_view name);

}  // namespace ivo

// Bases through which an object keeps the services it holds for its life.
#pragma once

#include "ozo/ref_ptr.h"
#include "ozo/services.h"

namespace ozo {

// Holds the object's service locator (one counted reference).
template <class Locator>
class ServiceProvider {
 protected:
  explicit ServiceProvider(Locator* locator) noexcept : m_locator(locator) {}
  ~ServiceProvider() = default;
  Locator* GetServiceLocator() const noexcept { return m_locator.get(); }

 private:
  ref_ptr<Locator> m_locator;
};

// Holds the object's own tracer (one counted reference).
class TracerProvider {
 protected:
  explicit TracerProvider(ref_ptr<ITracer> tracer) noexcept : m_tracer(std::move(tracer)) {}
  ~TracerProvider() = default;
  ITracer* GetTracer() const noexcept { return m_tracer.get(); }

 private:
  ref_ptr<ITracer> m_tracer;
};

}  // namespace ozo

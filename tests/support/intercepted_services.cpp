#include "tests/support/intercepted_services.h"

#include <cstdio>
#include <cstring>

namespace test {

ozo::result_t InterceptedTracer::ReserveBuffer(std::uint32_t level, char** buffer, std::size_t size) {
  if (!buffer) return ozo::results::InvalidArgument;
  const bool growth = *buffer != nullptr;
  if (const ozo::result_t fault = m_faults->Enter(growth ? "ITracer::ReserveBuffer/grow" : "ITracer::ReserveBuffer");
      ozo::Failed(fault))
    return fault;
  m_requests.Add([size] { return size; });
  if (growth && m_refuseGrowth) return ozo::results::OutOfMemory;
  const ozo::result_t result = m_inner->ReserveBuffer(level, buffer, size);
  return !growth && result == ozo::results::NoError && m_acceptCode ? m_acceptCode.load() : result;
}

void* InterceptedAllocator::Allocate(std::size_t size) {
  if (ozo::Failed(m_faults->Enter("IAllocator::Allocate"))) return nullptr;
  void* block = m_inner->Allocate(size);
  if (!block) return nullptr;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_blocks[block] = size;
  return block;
}

void* InterceptedAllocator::Reallocate(void* pointer, std::size_t size) {
  if (!pointer) return Allocate(size);
  if (ozo::Failed(m_faults->Enter("IAllocator::Reallocate"))) return nullptr;
  void* block = m_inner->Allocate(size);
  if (!block) return nullptr;
  std::size_t old = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    old = m_blocks[pointer];
    m_blocks[block] = size;
  }
  std::memcpy(block, pointer, old < size ? old : size);
  Free(pointer);
  return block;
}

void InterceptedAllocator::Free(void* pointer) {
  if (!pointer) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_blocks.erase(pointer);
  }
  m_inner->Free(pointer);
}

std::size_t InterceptedAllocator::liveBlocks() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_blocks.size();
}

ozo::result_t InterceptedPolicy::CheckChangePermission(const ivo::PolicyChangeQuery* query, ozo::string16_t* reason) {
  return Call("IPolicyProvider::CheckChangePermission", [&] {
    if (query) {
      m_queries.Add([query] {
        Query kept{
            query->settingId, {}, query->dependencies.has_value(), query->force || query->dryRun || query->notify};
        for (const ivo::PolicyValue& value : query->values)
          kept.values.emplace_back(std::string(value.name.view()), std::string(value.value.view()));
        return kept;
      });
    }
    return m_inner->CheckChangePermission(query, reason);
  });
}

namespace {
// How many holds of any storage mutex the calling thread has.
thread_local int t_held = 0;
}  // namespace

void InterceptedMutex::Record(Kind kind) {
  if (t_held > 0) m_nested.fetch_add(1, std::memory_order_relaxed);
  m_acquisitions.Add([kind] { return kind; });
}

void InterceptedMutex::lock() {
  Record(Kind::Exclusive);
  m_inner->lock();
  ++t_held;
}

void InterceptedMutex::unlock() {
  --t_held;
  m_inner->unlock();
}

void InterceptedMutex::lock_shared() {
  Record(Kind::Shared);
  m_inner->lock_shared();
  ++t_held;
}

bool InterceptedMutex::try_lock_shared() {
  if (!m_inner->try_lock_shared()) return false;
  Record(Kind::Shared);
  ++t_held;
  return true;
}

void InterceptedMutex::unlock_shared() {
  --t_held;
  m_inner->unlock_shared();
}

void InterceptedMutex::ClearRecord() {
  m_acquisitions.Clear();
  m_nested.store(0);
}

ozo::result_t InterceptedSerializer::Serialize(ozo::any_descr_ptr_t* value, ozo::IStorage* node, std::uint32_t flags,
                                               void* reserved) {
  return Call("IStorageSerializer2::Serialize", [&] {
    const ozo::result_t result = m_inner->Serialize(value, node, flags, reserved);
    if (ozo::Succeeded(result) && value && m_holder) {
      m_holder->AddRef();  // the caller's to release
      value->holder = m_holder.get();
    }
    return result;
  });
}

InterceptingLocator::InterceptingLocator(Faults faults)
    : m_faults(std::move(faults)), m_services(host::Make<host::ServiceLocator>()) {}

ozo::result_t InterceptingLocator::GetInterface(ozo::iid_t iid, std::uint32_t serviceKey, void** out) {
  char operation[64];
  std::snprintf(operation, sizeof(operation), "IServiceLocator::GetInterface/%08x", iid);
  if (const ozo::result_t fault = m_faults->Enter(operation); ozo::Failed(fault)) return fault;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_withheld.count(iid)) return ozo::results::InterfaceNotSupported;
  }
  return m_services->GetInterface(iid, serviceKey, out);
}

void InterceptingLocator::Withhold(ozo::iid_t iid, bool withheld) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (withheld)
    m_withheld.insert(iid);
  else
    m_withheld.erase(iid);
}

}  // namespace test

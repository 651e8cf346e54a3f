// A storage node decorated with the host's reader/writer storage mutex.
#pragma once

#include "ivo/storage_mutex.h"
#include "ozo/any_struct.h"
#include "ozo/object/object_impl.h"
#include "ozo/ref_ptr.h"
#include "ozo/services.h"
#include "ozo/storage.h"

namespace ivo {

// Forwards every IStorage operation to the wrapped node while holding the
// host's storage mutex around the one call: shared for reads, exclusive for
// changes and Flush. Adds typed operations that read or write one whole
// structure as one child node through the host serializer, under the same
// single lock. The lock is never taken twice by one operation and is released
// on every exit. Child nodes handed out are the wrapped node's own, not
// wrapped. Failures are traced (ivo_common/synchronized_storage) and returned;
// nothing is thrown after construction.
//
// The owner binds the wrapped node through Storage() right after creation,
// before any other use.
class SynchronizedStorage : public ozo::object::Ifaces<ozo::IStorage>, ozo::object::NonCopyable {
 public:
  // Takes the allocator and tracer (GetInterfaceException when missing), the
  // storage mutex and the serializer (CheckResultFailedException, lines 16
  // and 18) from `locator`; releases what it took when it throws.
  explicit SynchronizedStorage(ozo::IServiceLocator* locator);

  ozo::result_t AppendNode(ozo::cstr8_t name, ozo::IStorage** node) override;
  ozo::result_t RemoveNode(ozo::cstr8_t name) override;
  ozo::result_t GetNode(ozo::cstr8_t name, ozo::IStorage** node) override;
  ozo::result_t GetName(ozo::str8_t buffer, std::uint32_t& size) override;
  ozo::result_t GetNodesCount(std::uint32_t& count) override;
  ozo::result_t GetNodeName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) override;
  ozo::result_t GetNode(std::uint32_t index, ozo::IStorage** node) override;
  ozo::result_t GetValuesCount(std::uint32_t& count) override;
  ozo::result_t GetValueName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) override;
  ozo::result_t SetValue(ozo::cstr8_t name, const ozo::types::variant_t& value,
                         ozo::IStoredValueFormatter* formatter) override;
  ozo::result_t GetValue(ozo::cstr8_t name, ozo::types::variant_t& value,
                         ozo::IStoredValueFormatter* formatter) override;
  ozo::result_t GetValue(std::uint32_t index, ozo::types::variant_t& value,
                         ozo::IStoredValueFormatter* formatter) override;
  ozo::result_t Flush() override;

  // Reads child `index` (or the child named `name`) into `value` through the
  // serializer. 0 on success, even when the serializer answered a positive code.
  ozo::result_t GetNode(std::uint32_t index, ozo::any_struct_t& value) const;
  ozo::result_t GetNode(ozo::cstr8_t name, ozo::any_struct_t& value) const;
  // Appends child `name` and serializes `value` into it (flushing the child
  // when asked). An empty value is "Invalid state" without touching the
  // storage; a failure after the append leaves the appended child in place.
  ozo::result_t AppendNode(ozo::cstr8_t name, const ozo::any_struct_t& value, bool flush);
  // Removes every child named `name`; "Unspecified error" when one remains.
  ozo::result_t RemoveAllNodes(ozo::cstr8_t name);
  // Removes every child, first to last; the code of the last call made.
  ozo::result_t Clear();

  ozo::ref_ptr<ozo::IStorage>& Storage() noexcept { return m_storage; }
  bool HasStorage() const noexcept { return static_cast<bool>(m_storage); }

 protected:
  ~SynchronizedStorage() = default;

 private:
  enum class Access { Read, Write };
  // Traces `signature`, then runs `call` on the wrapped node under the lock
  // of the access's kind (shared for reads, exclusive for writes).
  template <Access access, class Call>
  ozo::result_t Forward(const char* signature, Call call) const;

  // Members are released in reverse order: serializer, node, mutex, locator,
  // tracer, allocator.
  ozo::ref_ptr<ozo::IAllocator> m_allocator;
  ozo::ref_ptr<ozo::ITracer> m_tracer;
  ozo::ref_ptr<ozo::IServiceLocator> m_locator;
  ozo::ref_ptr<IStorageMutex> m_mutex;
  ozo::ref_ptr<ozo::IStorage> m_storage;
  ozo::ref_ptr<ozo::IStorageSerializer2> m_serializer;
};

// Creates a SynchronizedStorage object (one reference, one unit of the
// module's live-object count).
ozo::ref_ptr<SynchronizedStorage> MakeSynchronizedStorage(ozo::IServiceLocator* locator);

}  // namespace ivo

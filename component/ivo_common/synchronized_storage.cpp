#include "ivo_common/synchronized_storage.h"

#include <mutex>
#include <shared_mutex>
#include <string>

#include "ozo/error_handling/check.h"
#include "ozo/object/objclient.h"
#include "ozo/storage/read_name.h"
#include "ozo/trace/trace_stream.h"

namespace ivo {
namespace {

using ozo::result_t;
using ozo::trace::CheckLocation;
namespace results = ozo::results;

constexpr const char* kFile = "ivo_common/synchronized_storage";

}  // namespace

SynchronizedStorage::SynchronizedStorage(ozo::IServiceLocator* locator)
    : m_allocator(ozo::GetInterfaceOrThrow<ozo::IAllocator>(locator)),
      m_tracer(ozo::GetInterfaceOrThrow<ozo::ITracer>(locator)),
      m_locator(locator) {
  ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info,
                    "ivo::SynchronizedStorage::SynchronizedStorage(ozo::IServiceLocator*)");
  result_t result = ozo::GetInterface(locator, m_mutex);
  if (ozo::Failed(result))
    ozo::FailCheck(m_tracer.get(), CheckLocation{kFile, 16, "GetInterface(GetServiceLocator(), m_mutex.Ref())"}, result,
                   "Cannot get ivo::IStorageMutex interface");
  result = ozo::GetInterface(locator, m_serializer);
  if (ozo::Failed(result))
    ozo::FailCheck(m_tracer.get(), CheckLocation{kFile, 18, "GetInterface(GetServiceLocator(), m_serializer.Ref())"},
                   result, "Cannot get ozo::IStorageSerializer2 interface");
}

template <SynchronizedStorage::Access access, class Call>
result_t SynchronizedStorage::Forward(const char* signature, Call call) const {
  ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info, signature);
  if constexpr (access == Access::Read) {
    std::shared_lock<IStorageMutex> lock(*m_mutex);
    return call(*m_storage);
  } else {
    std::lock_guard<IStorageMutex> lock(*m_mutex);
    return call(*m_storage);
  }
}

result_t SynchronizedStorage::AppendNode(ozo::cstr8_t name, ozo::IStorage** node) {
  const result_t result =
      Forward<Access::Write>("virtual result_t ivo::SynchronizedStorage::AppendNode(cstr8_t, ozo::IStorage**)",
                             [&](ozo::IStorage& storage) { return storage.AppendNode(name, node); });
  if (ozo::Failed(result)) {
    ozo::trace::TraceFailedCheck(m_tracer.get(), CheckLocation{kFile, 28, "m_storage->AppendNode(name, node)"}, result,
                                 "Cannot append node ", name);
    return result;
  }
  return results::NoError;
}

result_t SynchronizedStorage::RemoveNode(ozo::cstr8_t name) {
  return Forward<Access::Write>("virtual result_t ivo::SynchronizedStorage::RemoveNode(cstr8_t)",
                                [&](ozo::IStorage& storage) { return storage.RemoveNode(name); });
}

result_t SynchronizedStorage::GetNode(ozo::cstr8_t name, ozo::IStorage** node) {
  return Forward<Access::Read>("virtual result_t ivo::SynchronizedStorage::GetNode(cstr8_t, ozo::IStorage**)",
                               [&](ozo::IStorage& storage) { return storage.GetNode(name, node); });
}

result_t SynchronizedStorage::GetName(ozo::str8_t buffer, std::uint32_t& size) {
  return Forward<Access::Read>("virtual result_t ivo::SynchronizedStorage::GetName(str8_t, uint32_t&)",
                               [&](ozo::IStorage& storage) { return storage.GetName(buffer, size); });
}

result_t SynchronizedStorage::GetNodesCount(std::uint32_t& count) {
  return Forward<Access::Read>("virtual result_t ivo::SynchronizedStorage::GetNodesCount(uint32_t&)",
                               [&](ozo::IStorage& storage) { return storage.GetNodesCount(count); });
}

result_t SynchronizedStorage::GetNodeName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) {
  return Forward<Access::Read>("virtual result_t ivo::SynchronizedStorage::GetNodeName(uint32_t, str8_t, uint32_t&)",
                               [&](ozo::IStorage& storage) { return storage.GetNodeName(index, buffer, size); });
}

result_t SynchronizedStorage::GetNode(std::uint32_t index, ozo::IStorage** node) {
  return Forward<Access::Read>("virtual result_t ivo::SynchronizedStorage::GetNode(uint32_t, ozo::IStorage**)",
                               [&](ozo::IStorage& storage) { return storage.GetNode(index, node); });
}

result_t SynchronizedStorage::GetValuesCount(std::uint32_t& count) {
  return Forward<Access::Read>("virtual result_t ivo::SynchronizedStorage::GetValuesCount(uint32_t&)",
                               [&](ozo::IStorage& storage) { return storage.GetValuesCount(count); });
}

result_t SynchronizedStorage::GetValueName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) {
  return Forward<Access::Read>("virtual result_t ivo::SynchronizedStorage::GetValueName(uint32_t, str8_t, uint32_t&)",
                               [&](ozo::IStorage& storage) { return storage.GetValueName(index, buffer, size); });
}

result_t SynchronizedStorage::SetValue(ozo::cstr8_t name, const ozo::types::variant_t& value,
                                       ozo::IStoredValueFormatter* formatter) {
  return Forward<Access::Write>(
      "virtual result_t ivo::SynchronizedStorage::SetValue(cstr8_t, const ozo::types::variant_t&, "
      "ozo::IStoredValueFormatter*)",
      [&](ozo::IStorage& storage) { return storage.SetValue(name, value, formatter); });
}

result_t SynchronizedStorage::GetValue(ozo::cstr8_t name, ozo::types::variant_t& value,
                                       ozo::IStoredValueFormatter* formatter) {
  return Forward<Access::Read>(
      "virtual result_t ivo::SynchronizedStorage::GetValue(cstr8_t, ozo::types::variant_t&, "
      "ozo::IStoredValueFormatter*)",
      [&](ozo::IStorage& storage) { return storage.GetValue(name, value, formatter); });
}

result_t SynchronizedStorage::GetValue(std::uint32_t index, ozo::types::variant_t& value,
                                       ozo::IStoredValueFormatter* formatter) {
  return Forward<Access::Read>(
      "virtual result_t ivo::SynchronizedStorage::GetValue(uint32_t, ozo::types::variant_t&, "
      "ozo::IStoredValueFormatter*)",
      [&](ozo::IStorage& storage) { return storage.GetValue(index, value, formatter); });
}

result_t SynchronizedStorage::Flush() {
  return Forward<Access::Write>("virtual result_t ivo::SynchronizedStorage::Flush()",
                                [&](ozo::IStorage& storage) { return storage.Flush(); });
}

result_t SynchronizedStorage::GetNode(std::uint32_t index, ozo::any_struct_t& value) const {
  ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info,
                    "result_t ivo::SynchronizedStorage::GetNode(uint32_t, ozo::any_struct_t&) const");
  std::shared_lock<IStorageMutex> lock(*m_mutex);
  ozo::ref_ptr<ozo::IStorage> node;
  result_t result = m_storage->GetNode(index, node.Ref());
  if (ozo::Failed(result)) {
    ozo::trace::TraceFailedCheck(m_tracer.get(), CheckLocation{kFile, 169, "m_storage->GetNode(idx, node.Ref())"},
                                 result, "Cannot get node with index ", index);
    return result;
  }
  result = m_serializer->Deserialize(value.Ref(), node.get(), 0, nullptr);
  if (ozo::Failed(result)) {
    ozo::trace::TraceFailedCheck(m_tracer.get(),
                                 CheckLocation{kFile, 172, "m_serializer->Deserialize(value.Ref(), node, 0, nullptr)"},
                                 result, "Cannot deserialize struct");
    return result;
  }
  return results::NoError;
}

result_t SynchronizedStorage::GetNode(ozo::cstr8_t name, ozo::any_struct_t& value) const {
  ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info,
                    "result_t ivo::SynchronizedStorage::GetNode(cstr8_t, ozo::any_struct_t&) const");
  std::shared_lock<IStorageMutex> lock(*m_mutex);
  ozo::ref_ptr<ozo::IStorage> node;
  result_t result = m_storage->GetNode(name, node.Ref());
  if (ozo::Failed(result)) {
    ozo::trace::TraceFailedCheck(m_tracer.get(), CheckLocation{kFile, 184, "m_storage->GetNode(name, node.Ref())"},
                                 result, "Cannot get node ", name);
    return result;
  }
  result = m_serializer->Deserialize(value.Ref(), node.get(), 0, nullptr);
  if (ozo::Failed(result)) {
    ozo::trace::TraceFailedCheck(m_tracer.get(),
                                 CheckLocation{kFile, 187, "m_serializer->Deserialize(value.Ref(), node, 0, nullptr)"},
                                 result, "Cannot deserialize struct", name);
    return result;
  }
  return results::NoError;
}

result_t SynchronizedStorage::AppendNode(ozo::cstr8_t name, const ozo::any_struct_t& value, bool flush) {
  ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info,
                    "result_t ivo::SynchronizedStorage::AppendNode(cstr8_t, const any_struct_t&, bool)");
  if (!value.IsValid()) {
    ozo::trace::TraceFailedBoolCheck(m_tracer.get(),
                                     CheckLocation{kFile, 145, "value.IsValid()", ozo::trace::kBoolCondition},
                                     "Cannot make any struct");
    return results::InvalidState;
  }
  std::lock_guard<IStorageMutex> lock(*m_mutex);
  ozo::ref_ptr<ozo::IStorage> node;
  result_t result = m_storage->AppendNode(name, node.Ref());
  if (ozo::Failed(result)) {
    ozo::trace::TraceFailedCheck(m_tracer.get(), CheckLocation{kFile, 150, "m_storage->AppendNode(name, node.Ref())"},
                                 result, "Failed to add new node");
    return result;
  }
  ozo::any_descr_ptr_t pointer = value.ToAnyDescrPtr();
  result = m_serializer->Serialize(&pointer, node.get(), 0, nullptr);
  // The serializer may fill the holder with a reference of its own: released
  // here, after the call, on every path.
  const auto holder = ozo::ref_ptr<ozo::IObject>::Attach(pointer.holder);
  if (ozo::Failed(result)) {
    ozo::trace::TraceFailedCheck(
        m_tracer.get(), CheckLocation{kFile, 153, "m_serializer->Serialize(value.ToAnyDescrPtr(), node, 0, nullptr)"},
        result, "Cannot serialize struct");
    return result;
  }
  if (flush) {
    result = node->Flush();
    if (ozo::Failed(result)) {
      ozo::trace::TraceFailedCheck(m_tracer.get(), CheckLocation{kFile, 157, "node->Flush()"}, result,
                                   "Cannot flush node");
      return result;
    }
  }
  return results::NoError;
}

result_t SynchronizedStorage::RemoveAllNodes(ozo::cstr8_t name) {
  ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info,
                    "result_t ivo::SynchronizedStorage::RemoveAllNodes(cstr8_t)");
  std::lock_guard<IStorageMutex> lock(*m_mutex);
  while (ozo::Succeeded(m_storage->RemoveNode(name))) {
  }
  ozo::ref_ptr<ozo::IStorage> remaining;
  return ozo::Succeeded(m_storage->GetNode(name, remaining.Ref())) ? results::UnspecifiedError : results::NoError;
}

result_t SynchronizedStorage::Clear() {
  ozo::trace::Trace(m_tracer.get(), ozo::trace_level::Info, "result_t ivo::SynchronizedStorage::Clear()");
  std::lock_guard<IStorageMutex> lock(*m_mutex);
  std::uint32_t count = 0;
  result_t result = m_storage->GetNodesCount(count);
  if (ozo::Failed(result)) return result;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string name;
    result = ozo::storage::ReadName(
        [&](char* buffer, std::uint32_t& size) { return m_storage->GetNodeName(0, buffer, size); }, name);
    if (ozo::Failed(result)) return result;
    result = m_storage->RemoveNode(name.c_str());
    if (ozo::Failed(result)) return result;
  }
  return result;
}

ozo::ref_ptr<SynchronizedStorage> MakeSynchronizedStorage(ozo::IServiceLocator* locator) {
  return ozo::detail::ObjectImpl<SynchronizedStorage>::CreateRef<SynchronizedStorage>(locator);
}

}  // namespace ivo

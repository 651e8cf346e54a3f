#include "tests/support/intercepted_storage.h"

namespace test {
namespace {

using ozo::result_t;
using ozo::types::variant_t;

// Replaces a node just handed out in `*node` by its wrapper.
result_t Wrapped(result_t result, ozo::IStorage** node, const Faults& faults) {
  if (ozo::Succeeded(result) && node && *node) {
    ozo::ref_ptr<ozo::IStorage> inner = ozo::ref_ptr<ozo::IStorage>::Attach(*node);
    *node = InterceptNode(std::move(inner), faults).Detach();
  }
  return result;
}

class InterceptedNode : public Intercepted<ozo::IStorage> {
 public:
  using Intercepted::Intercepted;

  result_t AppendNode(ozo::cstr8_t name, ozo::IStorage** node) override {
    return Call("IStorage::AppendNode", [&] { return Wrapped(m_inner->AppendNode(name, node), node, m_faults); });
  }
  result_t RemoveNode(ozo::cstr8_t name) override {
    return Call("IStorage::RemoveNode", [&] { return m_inner->RemoveNode(name); });
  }
  result_t GetNode(ozo::cstr8_t name, ozo::IStorage** node) override {
    return Call("IStorage::GetNode", [&] { return Wrapped(m_inner->GetNode(name, node), node, m_faults); });
  }
  result_t GetName(ozo::str8_t buffer, std::uint32_t& size) override {
    return Call("IStorage::GetName", [&] { return m_inner->GetName(buffer, size); });
  }
  result_t GetNodesCount(std::uint32_t& count) override {
    return Call("IStorage::GetNodesCount", [&] { return m_inner->GetNodesCount(count); });
  }
  result_t GetNodeName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) override {
    return Call("IStorage::GetNodeName", [&] { return m_inner->GetNodeName(index, buffer, size); });
  }
  result_t GetNode(std::uint32_t index, ozo::IStorage** node) override {
    return Call("IStorage::GetNode/index", [&] { return Wrapped(m_inner->GetNode(index, node), node, m_faults); });
  }
  result_t GetValuesCount(std::uint32_t& count) override {
    return Call("IStorage::GetValuesCount", [&] { return m_inner->GetValuesCount(count); });
  }
  result_t GetValueName(std::uint32_t index, ozo::str8_t buffer, std::uint32_t& size) override {
    return Call("IStorage::GetValueName", [&] { return m_inner->GetValueName(index, buffer, size); });
  }
  result_t SetValue(ozo::cstr8_t name, const variant_t& value, ozo::IStoredValueFormatter* formatter) override {
    return Call("IStorage::SetValue", [&] { return m_inner->SetValue(name, value, formatter); });
  }
  result_t GetValue(ozo::cstr8_t name, variant_t& value, ozo::IStoredValueFormatter* formatter) override {
    return Call("IStorage::GetValue", [&] { return m_inner->GetValue(name, value, formatter); });
  }
  result_t GetValue(std::uint32_t index, variant_t& value, ozo::IStoredValueFormatter* formatter) override {
    return Call("IStorage::GetValue/index", [&] { return m_inner->GetValue(index, value, formatter); });
  }
  result_t Flush() override {
    return Call("IStorage::Flush", [&] { return m_inner->Flush(); });
  }
};

class InterceptedStore : public Intercepted<ozo::IPersistentStorage> {
 public:
  using Intercepted::Intercepted;

  result_t GetStoragesCount(std::uint32_t& count) override { return m_inner->GetStoragesCount(count); }
  result_t GetStorageClassId(std::uint32_t index, ozo::clsid_t& classId) override {
    return m_inner->GetStorageClassId(index, classId);
  }
  result_t CreateStorage(ozo::clsid_t classId, ozo::IStorage** storage) override {
    return Call("IPersistentStorage::CreateStorage",
                [&] { return Wrapped(m_inner->CreateStorage(classId, storage), storage, m_faults); });
  }
  result_t RemoveStorage(ozo::clsid_t classId) override { return m_inner->RemoveStorage(classId); }
  result_t Flush() override { return m_inner->Flush(); }
  result_t GetPath(ozo::string8_t& path) override { return m_inner->GetPath(path); }
  result_t GetStorage(ozo::clsid_t classId, ozo::IStorage** storage) override {
    return Call("IPersistentStorage::GetStorage",
                [&] { return Wrapped(m_inner->GetStorage(classId, storage), storage, m_faults); });
  }
};

}  // namespace

ozo::ref_ptr<ozo::IStorage> InterceptNode(ozo::ref_ptr<ozo::IStorage> node, Faults faults) {
  return ozo::ref_ptr<ozo::IStorage>(host::Make<InterceptedNode>(std::move(node), std::move(faults)));
}

ozo::ref_ptr<ozo::IPersistentStorage> InterceptStore(ozo::ref_ptr<ozo::IPersistentStorage> store, Faults faults) {
  return ozo::ref_ptr<ozo::IPersistentStorage>(host::Make<InterceptedStore>(std::move(store), std::move(faults)));
}

}  // namespace test

#include "host/storage/meta_info.h"

#include "host/storage/record_descriptors.h"

namespace host {

std::shared_ptr<DescriptorRegistry> DescriptorRegistry::WithCertificateRecords() {
  auto registry = std::make_shared<DescriptorRegistry>();
  registry->Add(ServerCertificateDescriptor());
  registry->Add(ClientCertificateDescriptor());
  registry->Add(RuntimeFieldDescriptor());
  registry->Add(AdditionalFieldDescriptor());
  return registry;
}

void DescriptorRegistry::Add(const ozo::StructDescriptor* descriptor) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_descriptors[descriptor->typeId] = descriptor;
}

const ozo::StructDescriptor* DescriptorRegistry::Find(std::uint32_t typeId) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto found = m_descriptors.find(typeId);
  return found == m_descriptors.end() ? nullptr : found->second;
}

std::uint32_t DescriptorRegistry::size() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<std::uint32_t>(m_descriptors.size());
}

ozo::result_t PrimaryMetaInfoProvider::GetStructDescriptor(std::uint32_t typeId,
                                                           const ozo::StructDescriptor** descriptor) {
  const ozo::StructDescriptor* found = m_registry->Find(typeId);
  if (!found) return ozo::results::MetaInformationNotFound;
  *descriptor = found;
  return ozo::results::NoError;
}

ozo::result_t SecondaryMetaInfoProvider::GetStructDescriptorsCount(std::uint32_t& count) {
  count = m_registry->size();
  return ozo::results::NoError;
}

ozo::result_t SecondaryMetaInfoProvider::FindStructDescriptor(std::uint32_t typeId,
                                                              const ozo::StructDescriptor** descriptor) {
  const ozo::StructDescriptor* found = m_registry->Find(typeId);
  if (!found) return ozo::results::MetaInformationNotFound;
  *descriptor = found;
  return ozo::results::NoError;
}

}  // namespace host

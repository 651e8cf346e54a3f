// Structure descriptors known to the host, and the two providers over them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "host/host_object.h"
#include "ozo/storage.h"

namespace host {

// Descriptors by structure type id. Descriptors are static and never freed.
class DescriptorRegistry {
 public:
  // A registry that knows ServerCertificate, ClientCertificate, RuntimeField
  // and AdditionalField.
  static std::shared_ptr<DescriptorRegistry> WithCertificateRecords();

  void Add(const ozo::StructDescriptor* descriptor);
  const ozo::StructDescriptor* Find(std::uint32_t typeId) const;
  std::uint32_t size() const;

 private:
  mutable std::mutex m_mutex;
  std::map<std::uint32_t, const ozo::StructDescriptor*> m_descriptors;
};

// Unknown type ids give "Meta information not found" (0x80000076).
class PrimaryMetaInfoProvider : public HostObject<ozo::IMetaInfoProvider> {
 public:
  explicit PrimaryMetaInfoProvider(std::shared_ptr<DescriptorRegistry> registry) : m_registry(std::move(registry)) {}
  ozo::result_t GetStructDescriptor(std::uint32_t typeId, const ozo::StructDescriptor** descriptor) override;

 protected:
  ~PrimaryMetaInfoProvider() override = default;

 private:
  std::shared_ptr<DescriptorRegistry> m_registry;
};

class SecondaryMetaInfoProvider : public HostObject<ozo::IMetaInfoProvider2> {
 public:
  explicit SecondaryMetaInfoProvider(std::shared_ptr<DescriptorRegistry> registry) : m_registry(std::move(registry)) {}
  ozo::result_t GetStructDescriptorsCount(std::uint32_t& count) override;
  ozo::result_t FindStructDescriptor(std::uint32_t typeId, const ozo::StructDescriptor** descriptor) override;

 protected:
  ~SecondaryMetaInfoProvider() override = default;

 private:
  std::shared_ptr<DescriptorRegistry> m_registry;
};

}  // namespace host

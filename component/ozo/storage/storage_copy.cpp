#include "ozo/storage/storage_copy.h"

#include <string>

#include "ozo/ref_ptr.h"
#include "ozo/storage/read_name.h"

namespace ozo::storage {
namespace {

// Out of range when the name is all digits and its value is not below `total`.
result_t CheckNumericName(const std::string& name, std::uint32_t total, std::uint32_t& value) {
  value = 0;
  if (name.empty()) return results::NoError;
  std::uint64_t number = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return results::NoError;
    number = number > UINT32_MAX ? number : number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (number >= total) return results::OutOfRange;
  value = static_cast<std::uint32_t>(number);
  return results::NoError;
}

}  // namespace

result_t Copy(IStorage* source, IStorage* destination, AppendChildFn appendChild, bool checkNumericNames) {
  std::uint32_t nodes = 0;
  std::uint32_t values = 0;
  result_t result = source->GetNodesCount(nodes);
  if (Failed(result)) return result;
  result = source->GetValuesCount(values);
  if (Failed(result)) return result;
  const std::uint32_t total = nodes + values;

  for (std::uint32_t index = 0; index < nodes; ++index) {
    ref_ptr<IStorage> child;
    result = source->GetNode(index, child.Ref());
    if (Failed(result)) return result;
    std::string name;
    result = ReadName([&](char* buffer, std::uint32_t& size) { return child->GetName(buffer, size); }, name);
    if (Failed(result)) return result;
    std::uint32_t numeric = 0;
    if (checkNumericNames && Failed(result = CheckNumericName(name, total, numeric))) return result;
    ref_ptr<IStorage> copy;
    result = appendChild(destination, name.c_str(), copy.Ref(), numeric);
    if (Failed(result)) return result;
    result = Copy(child.get(), copy.get(), appendChild, checkNumericNames);
    if (Failed(result)) return result;
  }

  for (std::uint32_t index = 0; index < values; ++index) {
    types::variant_t value;
    result = source->GetValue(index, value, nullptr);
    if (Failed(result)) return result;
    std::string name;
    result =
        ReadName([&](char* buffer, std::uint32_t& size) { return source->GetValueName(index, buffer, size); }, name);
    if (Failed(result)) return result;
    std::uint32_t numeric = 0;
    if (checkNumericNames && Failed(result = CheckNumericName(name, total, numeric))) return result;
    result = destination->SetValue(name.c_str(), value, nullptr);
    if (Failed(result)) return result;
  }

  types::variant_t unnamed;
  if (Succeeded(source->GetValue("", unnamed, nullptr)) && unnamed.tag() == types::VariantTag::String8 &&
      !unnamed.string8().empty())
    return destination->SetValue("", unnamed, nullptr);
  return result;
}

}  // namespace ozo::storage

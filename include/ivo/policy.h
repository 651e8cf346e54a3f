// The host's policy provider and the change query put to it.
#pragma once

#include <cstdint>

#include "ozo/object.h"
#include "ozo/types/basic_string.h"
#include "ozo/types/optional.h"
#include "ozo/types/vector.h"

namespace ivo {

struct PolicyValue {
  ozo::string8_t name;
  ozo::string8_t value;
};

// A request to change one setting locally.
struct PolicyChangeQuery {
  std::uint32_t settingId = 0;
  ozo::types::vector_t<PolicyValue> values;
  // Setting ids the change depends on; the manager never sends any.
  ozo::types::optional_t<ozo::types::vector_t<std::uint32_t>> dependencies;
  bool force = false;
  bool dryRun = false;
  bool notify = false;
};

struct IPolicyProvider : ozo::IObject {
  static constexpr ozo::iid_t IID = 0x64E90A4E;

  // Whether the policy locks a setting against local change.
  virtual ozo::result_t IsSettingLocked(std::uint32_t settingId, bool& locked) = 0;
  virtual ozo::result_t SetSettingLocked(std::uint32_t settingId, bool locked) = 0;
  // A success allows the local change; a failure refuses it with that code.
  // `reason` may receive a text for people; callers need not read it.
  virtual ozo::result_t CheckChangePermission(const PolicyChangeQuery* query, ozo::string16_t* reason) = 0;

 protected:
  ~IPolicyProvider() = default;
};

}  // namespace ivo

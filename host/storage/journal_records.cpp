#include "host/storage/journal_records.h"

#include <ctime>

namespace host {

ivo::CertificateEvent OperationRecord(const std::string& operation, const std::string& slot, const std::string& detail,
                                      const ivo::ChangeInitiator& initiator) {
  ivo::CertificateEvent record;
  record.eventType = kOperationRecord;
  record.initiator = initiator;
  record.time = static_cast<std::int64_t>(std::time(nullptr));
  for (const auto& [id, text] : {std::pair{operation_field::Operation, &operation},
                                 {operation_field::Slot, &slot},
                                 {operation_field::Detail, &detail}}) {
    ivo::RuntimeField field;
    field.name = id;
    field.data = ozo::types::variant_t::FromString8(ozo::string8_t(text->c_str()));
    record.fields.push_back(std::move(field));
  }
  return record;
}

}  // namespace host

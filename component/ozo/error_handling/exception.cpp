#include "ozo/error_handling/exception.h"

#include <cstdio>
#include <new>

#include "ozo/error_handling/callstack.h"
#include "ozo/result_messages.h"
#include "ozo/utf.h"

namespace ozo {
namespace {

constexpr std::string_view kUnknownException = "Unknown exception";

void AppendHex(std::string& out, std::uint64_t value, int digits) {
  char buffer[24];
  std::snprintf(buffer, sizeof(buffer), "0x%0*llx", digits, static_cast<unsigned long long>(value));
  out += buffer;
}

void AppendPropertyValue(std::string& out, const ExceptionProperty& p) {
  switch (p.kind) {
    case PropertyKind::Int32:
    case PropertyKind::UInt32:
      AppendHex(out,
                static_cast<std::uint32_t>(std::holds_alternative<std::int64_t>(p.value)
                                               ? static_cast<std::uint64_t>(std::get<std::int64_t>(p.value))
                                               : std::get<std::uint64_t>(p.value)),
                8);
      return;
    case PropertyKind::Int64:
    case PropertyKind::UInt64:
      AppendHex(out,
                std::holds_alternative<std::int64_t>(p.value)
                    ? static_cast<std::uint64_t>(std::get<std::int64_t>(p.value))
                    : std::get<std::uint64_t>(p.value),
                16);
      return;
    case PropertyKind::Text:
      out += std::get<std::string>(p.value);
      return;
    case PropertyKind::WideText:
      out += text::Utf16ToLocale(std::get<std::u16string>(p.value));
      return;
  }
  out += "<typeid=" + std::to_string(static_cast<std::uint32_t>(p.kind)) + ">";
}

std::string BuildWhat(const char* file, std::int32_t line, const ExceptionData& data) {
  std::string text = std::string(file) + "(" + std::to_string(line) + "): " + data.description + ".";
  if (data.properties.empty()) {
    text += " ";
  } else {
    text += " Properties:\n";
    for (const ExceptionProperty& p : data.properties) {
      text += p.name + "=";
      AppendPropertyValue(text, p);
      text += "\n";
    }
  }
  text += "Call stack:\n";
  char number[32];
  for (std::size_t i = 0; i < data.callStack.size(); ++i) {
    std::snprintf(number, sizeof(number), "%2zu# ", i);
    text += number + callstack::FormatLocation(data.callStack[i], data.modules) + "\n";
  }
  return text;
}

}  // namespace

exception::exception(const char* file, std::int32_t line, std::string_view description, CallStack stack)
    : m_file(file), m_line(line), m_data(new ExceptionData) {
  try {
    m_data->description.assign(description);
    if (stack == CallStack::Capture) callstack::Capture(*m_data);
  } catch (...) {
    delete m_data;
    throw;
  }
}

exception::exception(const exception& other) noexcept
    : std::exception(other), m_file(other.m_file), m_line(other.m_line), m_data(other.m_data) {
  if (m_data) m_data->references.fetch_add(1);
}

exception& exception::operator=(const exception& other) noexcept {
  if (this != &other) {
    exception copy(other);
    std::swap(m_file, copy.m_file);
    std::swap(m_line, copy.m_line);
    std::swap(m_data, copy.m_data);
  }
  return *this;
}

exception::~exception() {
  if (m_data && m_data->references.fetch_sub(1) == 1) delete m_data;
}

const char* exception::what() const noexcept {
  if (!m_data) return kUnknownException.data();
  if (m_data->whatText.empty()) {
    try {
      m_data->whatText = BuildWhat(m_file, m_line, *m_data);
    } catch (...) {
      m_data->whatText.clear();
      return m_data->description.c_str();
    }
  }
  return m_data->whatText.c_str();
}

void exception::SetProperty(std::string_view name, PropertyKind kind,
                            std::variant<std::string, std::u16string, std::int64_t, std::uint64_t> value) {
  if (name.size() > ExceptionProperty::kMaxNameLength || !m_data) throw std::bad_alloc();
  for (ExceptionProperty& p : m_data->properties) {
    if (p.name == name) {
      p.kind = kind;
      p.value = std::move(value);
      return;
    }
  }
  m_data->properties.push_back({std::string(name), kind, std::move(value)});
}

const ExceptionProperty* exception::FindProperty(std::string_view name) const noexcept {
  if (!m_data) return nullptr;
  for (const ExceptionProperty& p : m_data->properties)
    if (p.name == name) return &p;
  return nullptr;
}

ResultCodeException::ResultCodeException(const char* file, std::int32_t line, result_t code, std::u16string message)
    : ExceptionBase(file, line, text::Utf16ToUtf8(message), std::move(message)) {
  SetInt32(property::Result, code);
}

ResultCodeException::ResultCodeException(const char* file, std::int32_t line, std::string_view description,
                                         result_t code)
    : ExceptionBase(file, line, description, std::u16string(), CallStack::Capture) {
  SetInt32(property::Result, code);
}

std::u16string ResultCodeException::GetDescription() const {
  const result_t code = GetExceptionResult(*this);
  char hex[16];
  std::snprintf(hex, sizeof(hex), "0x%08x", static_cast<std::uint32_t>(code));
  std::string tail = std::string(hex) + " (" + std::string(GetResultMessage(code)) + ")";
  std::u16string description = message();
  if (!description.empty()) description += u": ";
  return description + text::Utf8ToUtf16(tail);
}

GetInterfaceException::GetInterfaceException(const char* file, std::int32_t line, std::string_view description,
                                             iid_t iid, std::uint32_t serviceKey, result_t code)
    : exception(file, line, description, CallStack::Capture) {
  SetUInt32(property::InterfaceId, iid);
  SetUInt32(property::ServiceKey, serviceKey);
  SetInt32(property::Result, code);
}

result_t GetExceptionResult(const exception& e) noexcept {
  if (const ExceptionProperty* p = e.FindProperty(property::Result);
      p && p->kind == PropertyKind::Int32 && std::holds_alternative<std::int64_t>(p->value))
    return static_cast<result_t>(std::get<std::int64_t>(p->value));
  if (const ExceptionProperty* p = e.FindProperty(property::OsResult);
      p && p->kind == PropertyKind::UInt32 && std::holds_alternative<std::uint64_t>(p->value))
    return ResultFromErrno(static_cast<std::int32_t>(std::get<std::uint64_t>(p->value)));
  if (const ExceptionProperty* p = e.FindProperty(property::OsModuleResult);
      p && p->kind == PropertyKind::Text && std::holds_alternative<std::string>(p->value))
    return std::get<std::string>(p->value).empty() ? results::NoError : results::UnspecifiedPlatformError;
  return results::ExceptionHasNoResultCode;
}

void ThrowCheckFailed(const char* file, std::int32_t line, result_t code) {
  throw CheckResultFailedException(file, line, "Expression failed", code);
}

}  // namespace ozo

// The framework's exceptions: a source position, a description, typed
// properties and the call stack at the throw, shared by all copies.
//
// Exceptions never cross an interface: every boundary converts them with
// ResultFromCurrentException (result_from_exception.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ozo/object.h"
#include "ozo/result.h"

namespace ozo {

// Kinds of property values (the numbers are part of the printed text).
enum class PropertyKind : std::uint32_t {
  Text = 7,
  WideText = 8,
  Int32 = 20,
  UInt32 = 21,
  Int64 = 22,
  UInt64 = 23,
};

struct ExceptionProperty {
  static constexpr std::size_t kMaxNameLength = 31;

  std::string name;
  PropertyKind kind;
  std::variant<std::string, std::u16string, std::int64_t, std::uint64_t> value;
};

// A loaded module that holds at least one frame of a call stack.
struct ModuleInfo {
  std::string path;
  std::string buildId;  // lowercase hex; empty when it cannot be read
  std::uintptr_t base = 0;
  std::size_t size = 0;
  // Bytes from `base` known readable: the first mapping, when it is readable
  // and maps the file from its start (that is where the ELF header is).
  std::size_t headerBytes = 0;
};

// Shared by every copy of one exception; freed with the last copy.
struct ExceptionData {
  std::atomic<std::uint32_t> references{1};
  std::string description;
  std::string whatText;                   // built on the first what()
  std::vector<std::uintptr_t> callStack;  // innermost first
  std::vector<ModuleInfo> modules;        // ascending base address
  std::vector<ExceptionProperty> properties;
};

// Property names the framework sets and reads.
namespace property {
inline constexpr std::string_view Result = "ozo.result";
inline constexpr std::string_view InterfaceId = "ozo.iid";
inline constexpr std::string_view ServiceKey = "ozo.serviceKey";
inline constexpr std::string_view OsResult = "os.result";
inline constexpr std::string_view OsModuleResult = "os.module_result";
}  // namespace property

class exception : public std::exception {
 public:
  enum class CallStack { Skip, Capture };
  struct NoData {};

  // Raises std::bad_alloc when the shared data cannot be made.
  exception(const char* file, std::int32_t line, std::string_view description, CallStack stack = CallStack::Skip);
  // An exception without data: what() is "Unknown exception".
  exception(const char* file, std::int32_t line, NoData) noexcept : m_file(file), m_line(line) {}
  exception(const exception& other) noexcept;
  exception& operator=(const exception& other) noexcept;
  ~exception() override;

  // The full text (position, description, properties, call stack), built
  // once; the description alone if building it fails. Never throws.
  const char* what() const noexcept override;

  const char* file() const noexcept { return m_file; }
  std::int32_t line() const noexcept { return m_line; }
  const ExceptionData* data() const noexcept { return m_data; }

  // Adds a property or replaces the one of the same name. Names longer than
  // 31 bytes raise std::bad_alloc.
  void SetProperty(std::string_view name, PropertyKind kind,
                   std::variant<std::string, std::u16string, std::int64_t, std::uint64_t> value);
  void SetInt32(std::string_view name, std::int32_t value) {
    SetProperty(name, PropertyKind::Int32, std::int64_t{value});
  }
  void SetUInt32(std::string_view name, std::uint32_t value) {
    SetProperty(name, PropertyKind::UInt32, std::uint64_t{value});
  }
  void SetText(std::string_view name, std::string value) { SetProperty(name, PropertyKind::Text, std::move(value)); }
  // The property of that exact name, or null.
  const ExceptionProperty* FindProperty(std::string_view name) const noexcept;

 private:
  const char* m_file = "";
  std::int32_t m_line = 0;
  ExceptionData* m_data = nullptr;
};

// Adds a UTF-16 message and GetDescription().
class Exception : public exception {
 public:
  Exception(const char* file, std::int32_t line, std::string_view description, std::u16string message,
            CallStack stack = CallStack::Skip)
      : exception(file, line, description, stack), m_message(std::move(message)) {}

  const std::u16string& message() const noexcept { return m_message; }
  // The message.
  virtual std::u16string GetDescription() const { return m_message; }

 private:
  std::u16string m_message;
};

// A typing layer between each class and its base.
template <class Derived, class Base>
class ExceptionBase : public Base {
 public:
  using Base::Base;
};

// Carries a result code in its "ozo.result" property.
class ResultCodeException : public ExceptionBase<ResultCodeException, Exception> {
 public:
  // Coded failure: message kept, no call stack; the description is the
  // message in UTF-8.
  ResultCodeException(const char* file, std::int32_t line, result_t code, std::u16string message);
  // Failed check: empty message, call stack captured.
  ResultCodeException(const char* file, std::int32_t line, std::string_view description, result_t code);

  // "message: " (when there is one), then "0x%08x (code message)".
  std::u16string GetDescription() const override;
};

// The throwing form of a failed result check ("Expression failed").
class CheckResultFailedException : public ExceptionBase<CheckResultFailedException, ResultCodeException> {
 public:
  using ExceptionBase::ExceptionBase;
};

class SystemException : public ExceptionBase<SystemException, ResultCodeException> {
 public:
  using ExceptionBase::ExceptionBase;
};

namespace datetime {
// Raised by the time conversions.
class TimeSystemError : public SystemException {
 public:
  using SystemException::SystemException;
};
}  // namespace datetime

// A service could not be obtained from the service locator.
class GetInterfaceException : public exception {
 public:
  GetInterfaceException(const char* file, std::int32_t line, std::string_view description, iid_t iid,
                        std::uint32_t serviceKey, result_t code);
};

// The result an exception carries: "ozo.result" (Int32) as is, else
// "os.result" (UInt32) through ResultFromErrno, else "os.module_result"
// (Text: empty 0, otherwise "Unspecified platform error"), else
// "Exception has no result code".
result_t GetExceptionResult(const exception& e) noexcept;

// Throws CheckResultFailedException("Expression failed") with `code`.
[[noreturn]] void ThrowCheckFailed(const char* file, std::int32_t line, result_t code);

}  // namespace ozo

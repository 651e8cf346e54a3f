// What a fallible call of the host's libraries came to: a result code and,
// when it failed, why in one sentence. Every such call returns one, so a
// caller never has to ask another object why.
#pragma once

#include <string>
#include <utility>

#include "ozo/result.h"

namespace host {

// A result code as a person reads it: "0x80000045 (Access denied)", the
// component's own codes named too.
std::string ResultText(ozo::result_t result);

class Status {
 public:
  // Success.
  Status() = default;
  // `code` (a failure, or a success such as "False"), and the sentence.
  Status(ozo::result_t code, std::string words) : m_code(code), m_words(std::move(words)) {}
  // A failure of the store itself (I/O, a full disk, a busy store), not a
  // refusal of what was asked.
  static Status StoreFailure(ozo::result_t code, std::string words) {
    Status failed(code, std::move(words));
    failed.m_store = true;
    return failed;
  }

  bool ok() const noexcept { return ozo::Succeeded(m_code); }
  bool storeFailed() const noexcept { return m_store; }
  ozo::result_t code() const noexcept { return m_code; }
  const std::string& words() const noexcept { return m_words; }

 private:
  ozo::result_t m_code = ozo::results::NoError;
  std::string m_words;
  bool m_store = false;
};

}  // namespace host

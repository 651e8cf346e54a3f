// A secret held in memory (a container's password, a CA's one-time secret).
#pragma once

#include <utility>

#include "ozo/types/basic_string.h"

namespace host {

// Owns its text and overwrites it with zeros in its destructor, so every path
// that drops the secret (a return, a refusal, an exception) wipes it. The
// framework string wipes the buffers it gives up while growing. Moves leave
// the source empty; copies are not allowed.
class Secret {
 public:
  Secret() = default;
  explicit Secret(ozo::string8_t text) noexcept : m_text(std::move(text)) {}
  Secret(Secret&& other) noexcept { m_text.swap(other.m_text); }
  Secret& operator=(Secret&& other) noexcept {
    m_text.secure_clear();
    m_text.swap(other.m_text);
    return *this;
  }
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  ~Secret() { m_text.secure_clear(); }

  const ozo::string8_t& text() const noexcept { return m_text; }
  ozo::string8_t& text() noexcept { return m_text; }

 private:
  ozo::string8_t m_text;
};

}  // namespace host

#include "certificates_manager/cert_parser/library_context.h"

#include <openssl/err.h>

namespace ivo::openssl {

LibraryContext::LibraryContext(const char* modulesDirectory) noexcept : m_context(OSSL_LIB_CTX_new()) {
  if (!m_context) return;
  // A missing legacy module is expected on some systems; its errors must not
  // become the reason text of an unrelated later failure, and errors queued
  // before must stay.
  ERR_set_mark();
  if (modulesDirectory) OSSL_PROVIDER_set_default_search_path(m_context.get(), modulesDirectory);
  m_default.reset(OSSL_PROVIDER_load(m_context.get(), "default"));
  m_legacy.reset(OSSL_PROVIDER_load(m_context.get(), "legacy"));
  ERR_pop_to_mark();
}

LibraryContext::~LibraryContext() {
  m_legacy.reset();
  m_default.reset();
  m_context.reset();
}

const LibraryContext& LibraryContext::ForThisThread() noexcept {
  thread_local const LibraryContext context;
  return context;
}

}  // namespace ivo::openssl

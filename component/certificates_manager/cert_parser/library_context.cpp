#include "certificates_manager/cert_parser/library_context.h"

#include <openssl/err.h>

#include <mutex>

namespace ivo::openssl {

LibraryContext::LibraryContext(const char* modulesDirectory, bool withLegacy) noexcept : m_context(OSSL_LIB_CTX_new()) {
  if (!m_context) return;
  // A missing legacy module is expected on some systems; its errors must not
  // become the reason text of an unrelated later failure, and errors queued
  // before must stay.
  ERR_set_mark();
  if (modulesDirectory) OSSL_PROVIDER_set_default_search_path(m_context.get(), modulesDirectory);
  m_default.reset(OSSL_PROVIDER_load(m_context.get(), "default"));
  if (withLegacy) m_legacy.reset(OSSL_PROVIDER_load(m_context.get(), "legacy"));
  ERR_pop_to_mark();
}

LibraryContext::~LibraryContext() {
  m_legacy.reset();
  m_default.reset();
  m_context.reset();
}

// The free contexts, listed through the contexts themselves: giving one back
// never allocates. The lock is held only to take or give back one context.
class PooledContext::Pool {
 public:
  // OpenSSL is initialised before the pool exists, so its clean-up at exit
  // runs after the pool has freed its contexts.
  Pool() noexcept { OPENSSL_init_crypto(0, nullptr); }
  ~Pool() {
    while (LibraryContext* context = Take()) delete context;
  }

  LibraryContext* Take() noexcept {
    std::lock_guard<std::mutex> lock(m_mutex);
    LibraryContext* context = m_free;
    if (context) m_free = context->m_nextFree;
    return context;
  }
  void Give(LibraryContext* context) noexcept {
    std::lock_guard<std::mutex> lock(m_mutex);
    context->m_nextFree = m_free;
    m_free = context;
  }

  static Pool& For(ContextUse use) {
    static Pool certificates, containers;
    return use == ContextUse::Certificates ? certificates : containers;
  }

 private:
  std::mutex m_mutex;
  LibraryContext* m_free = nullptr;
};

PooledContext::PooledContext(ContextUse use) : m_pool(Pool::For(use)), m_context(m_pool.Take()) {
  if (!m_context) m_context = new LibraryContext(nullptr, use == ContextUse::Containers);
}

PooledContext::~PooledContext() { m_pool.Give(m_context); }

}  // namespace ivo::openssl

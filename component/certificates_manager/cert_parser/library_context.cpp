#include "certificates_manager/cert_parser/library_context.h"

#include <openssl/err.h>
#include <openssl/provider.h>

#include <memory>
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
// Only a healthy context is pooled: one whose creation or provider load
// failed is freed when its borrower is done, so a failure is not handed on
// to every later call. Each pool is shared by its owner (a static object,
// destroyed when the module is unloaded or the process exits) and by every
// borrower: a decode still running when the owner goes gives its context back
// to a pool that exists and is closed, never to a destroyed one.
class PooledContext::Pool {
 public:
  explicit Pool(ContextUse use) noexcept : m_use(use) {}

  LibraryContext* Take() noexcept {
    std::lock_guard<std::mutex> lock(m_mutex);
    LibraryContext* context = m_free;
    if (context) m_free = context->m_nextFree;
    return context;
  }
  void Give(LibraryContext* context) noexcept {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (!m_closed && Healthy(*context)) {
        context->m_nextFree = m_free;
        m_free = context;
        return;
      }
      // After the close, OpenSSL may be cleaned up already: a late context is
      // left to the process's end rather than freed into a torn-down library.
      if (m_closed) return;
    }
    delete context;
  }
  // Frees the free contexts; later returns are no longer pooled.
  void Close() noexcept {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    while (LibraryContext* context = m_free) {
      m_free = context->m_nextFree;
      delete context;
    }
  }

  static std::shared_ptr<Pool> For(ContextUse use) {
    // OpenSSL is initialised before the owners exist, so its clean-up at exit
    // runs after they have freed their contexts.
    struct Owner {
      explicit Owner(ContextUse use) : pool(std::make_shared<Pool>(use)) { OPENSSL_init_crypto(0, nullptr); }
      ~Owner() { pool->Close(); }
      std::shared_ptr<Pool> pool;
    };
    static Owner certificates(ContextUse::Certificates), containers(ContextUse::Containers);
    return use == ContextUse::Certificates ? certificates.pool : containers.pool;
  }

 private:
  bool Healthy(const LibraryContext& context) const noexcept {
    return context.get() && context.hasDefault() && (m_use == ContextUse::Certificates || context.hasLegacy());
  }

  const ContextUse m_use;
  std::mutex m_mutex;
  LibraryContext* m_free = nullptr;
  bool m_closed = false;
};

PooledContext::PooledContext(ContextUse use) : m_pool(Pool::For(use)), m_context(m_pool->Take()) {
  if (!m_context) m_context = new LibraryContext(nullptr, use == ContextUse::Containers);
}

PooledContext::~PooledContext() { m_pool->Give(m_context); }

}  // namespace ivo::openssl

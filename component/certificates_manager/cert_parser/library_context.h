// The component's own OpenSSL library contexts, one per thread that decodes:
// PKCS#12 containers made with legacy algorithms (RC2, 3DES, RC4) open
// without changing the host process's global OpenSSL state, and threads do
// not contend for the locks of one shared context (OpenSSL 3.0 decodes slower
// on two threads sharing a context than on one).
#pragma once

#include <openssl/crypto.h>

#include "certificates_manager/cert_parser/openssl_holders.h"

namespace ivo::openssl {

// A library context with the "default" and (when its module can be loaded)
// "legacy" providers. Providers are unloaded before the context is freed.
class LibraryContext {
 public:
  // `modulesDirectory` replaces OpenSSL's provider search path when given.
  explicit LibraryContext(const char* modulesDirectory = nullptr) noexcept;
  ~LibraryContext();
  LibraryContext(const LibraryContext&) = delete;
  LibraryContext& operator=(const LibraryContext&) = delete;

  // The context, or null when it could not be made (OpenSSL's default
  // context is then used and legacy containers do not open).
  OSSL_LIB_CTX* get() const noexcept { return m_context.get(); }
  bool hasLegacy() const noexcept { return m_legacy != nullptr; }

  // The calling thread's context: made on its first use by the thread (its
  // providers loaded), released when the thread exits.
  static const LibraryContext& ForThisThread() noexcept;

 private:
  UniquePtr<OSSL_LIB_CTX> m_context;
  UniquePtr<OSSL_PROVIDER> m_default;
  UniquePtr<OSSL_PROVIDER> m_legacy;
};

// Makes `context` the calling thread's default for the scope's lifetime and
// restores the previous default on every exit. Other threads are unaffected.
class ScopedDefaultContext {
 public:
  explicit ScopedDefaultContext(const LibraryContext& context) noexcept
      : m_active(context.get() != nullptr), m_previous(m_active ? OSSL_LIB_CTX_set0_default(context.get()) : nullptr) {}
  ~ScopedDefaultContext() {
    if (m_active) OSSL_LIB_CTX_set0_default(m_previous);
  }
  ScopedDefaultContext(const ScopedDefaultContext&) = delete;
  ScopedDefaultContext& operator=(const ScopedDefaultContext&) = delete;

 private:
  bool m_active;
  OSSL_LIB_CTX* m_previous;
};

}  // namespace ivo::openssl

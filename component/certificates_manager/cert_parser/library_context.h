// The component's own OpenSSL library contexts: PKCS#12 containers made with
// legacy algorithms (RC2, 3DES, RC4) open without changing the host process's
// global OpenSSL state. A decoding call borrows a context of its own from a
// process-wide pool and returns it when done, so threads never share one
// (OpenSSL 3.0 decodes slower on two threads sharing a context than on one),
// and a new thread takes a context whose providers and decoders are loaded
// already instead of paying to make one.
#pragma once

#include <openssl/crypto.h>

#include <memory>

#include "ossl/holders.h"

namespace ivo::openssl {

// A library context with the "default" and, for contexts that open
// containers, (when its module can be loaded) the "legacy" provider.
// Certificates need nothing of the legacy provider, and loading its module
// costs a process about a millisecond. Providers are unloaded before the
// context is freed.
class LibraryContext {
 public:
  // `modulesDirectory` replaces OpenSSL's provider search path when given.
  explicit LibraryContext(const char* modulesDirectory = nullptr, bool withLegacy = true) noexcept;
  ~LibraryContext();
  LibraryContext(const LibraryContext&) = delete;
  LibraryContext& operator=(const LibraryContext&) = delete;

  // The context, or null when it could not be made (OpenSSL's default
  // context is then used and legacy containers do not open).
  OSSL_LIB_CTX* get() const noexcept { return m_context.get(); }
  bool hasDefault() const noexcept { return m_default != nullptr; }
  bool hasLegacy() const noexcept { return m_legacy != nullptr; }

 private:
  friend class PooledContext;  // its pool lists free contexts through m_nextFree

  ossl::UniquePtr<OSSL_LIB_CTX> m_context;
  ossl::UniquePtr<OSSL_PROVIDER> m_default;
  ossl::UniquePtr<OSSL_PROVIDER> m_legacy;
  LibraryContext* m_nextFree = nullptr;  // the pool's free list
};

// What a borrowed context decodes. Certificates and PKCS#12 containers come
// from separate pools: in OpenSSL 3.0 a context that has opened a container
// decodes certificates about a fifth slower afterwards (the methods and
// decoders it has cached make later lookups longer).
enum class ContextUse { Certificates, Containers };

// A context borrowed from the process-wide pool of its use for the holder's
// lifetime: a free one, else a new one (each pool grows to the number of
// calls decoding at once and keeps its contexts until the module is
// unloaded). Only a healthy context goes back to the pool (made, with its
// providers loaded: the legacy one too for containers); another is freed.
// Throws std::bad_alloc when no context can be made.
class PooledContext {
 public:
  explicit PooledContext(ContextUse use);
  ~PooledContext();
  PooledContext(const PooledContext&) = delete;
  PooledContext& operator=(const PooledContext&) = delete;

  const LibraryContext& get() const noexcept { return *m_context; }

 private:
  class Pool;
  std::shared_ptr<Pool> m_pool;  // outlives the pool's owner while borrowed
  LibraryContext* m_context;
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

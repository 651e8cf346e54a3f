// The owners of libssl's objects, apart: the component links libcrypto
// alone, and holds none of them.
#include <openssl/ssl.h>

#include "ossl/holders.h"

namespace ossl {

void Free<SSL>::operator()(SSL* object) const noexcept { SSL_free(object); }
void Free<SSL_CTX>::operator()(SSL_CTX* object) const noexcept { SSL_CTX_free(object); }

}  // namespace ossl

// Keeping OpenSSL's copies of secrets out of released memory.
#pragma once

namespace host {

// Makes every block OpenSSL (libcrypto, and so the component) releases or
// moves be zeroed first: OpenSSL wipes the keys it holds, but not every
// buffer an encoding or a decoding of a key or password passes through. A
// host that makes or reads keys calls it first thing in main, before any
// OpenSSL call; returns false when OpenSSL has allocated already (then
// nothing changes).
bool WipeReleasedCryptoMemory();

}  // namespace host

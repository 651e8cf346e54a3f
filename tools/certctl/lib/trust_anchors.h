// What a person gives certctl as trust anchors for new client certificates
// (--trusted), and what certctl says when a slot has none.
#pragma once

#include <string>

#include "ozo/types/blob.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

// The refusal of a slot without trust anchors, naming the fix (kExitUsage).
Failure NoAnchorsRefusal(ivo::PeerType type);

// Why `bytes`, given as trust anchors, cannot be (a phrase after the
// file's name: "is a private key, not a certificate", "holds a private key
// besides its certificates"), or empty when they hold certificates only.
std::string TrustFileProblem(const ozo::blob_t& bytes);

}  // namespace certctl

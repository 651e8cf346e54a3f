// What a person gives certctl as trust anchors for new client certificates
// (--trusted), and what certctl says when a slot has none.
#pragma once

#include <string>

#include "ozo/types/blob.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

// The refusal of a slot whose anchors cannot verify a CA (none, a file that
// holds more than certificates, no CA certificate among them: `problem`, as
// host::lifecycle::AnchorsProblem says), naming the fix (kExitUsage).
Failure NoAnchorsRefusal(const std::string& problem);

// Why `bytes`, given as trust anchors, cannot be (a phrase after the
// file's name: "has a block 2 that is a PRIVATE KEY, not a certificate"),
// or empty when they hold certificates only (ossl::ReadAnchorFile).
std::string TrustFileProblem(const ozo::blob_t& bytes);

}  // namespace certctl

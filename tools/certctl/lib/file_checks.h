// What certctl checks in a certificate file before the component sees it:
// that it holds what the command stores, and nothing else. The component
// keeps its own decisions (validity period, policy); certctl refuses, with a
// sentence naming the file, what the component would store as given.
#pragma once

#include <string>

#include "ozo/types/blob.h"
#include "tools/certctl/lib/certificate_file.h"
#include "tools/certctl/lib/passwords.h"

namespace certctl {

// The one certificate of a server certificate file. Throws Failure
// (kExitUsage): "FILE is empty", "FILE is not a certificate (neither DER nor
// PEM)", "FILE holds 2 certificates; ...", "FILE has data after its
// certificate; ...", or a date the component cannot represent.
UniquePtr<X509> CheckServerFile(const std::string& name, const ozo::blob_t& bytes);

// The container's certificate and key. Throws Failure (kExitUsage): "FILE is
// empty", "FILE is not a PKCS#12 container", "wrong password for FILE" (its
// integrity check fails), "FILE is damaged" (the password is right, the
// contents cannot be read), "FILE holds no certificate", no private key or
// one that does not match the certificate, or a date the component cannot
// represent.
ClientFile CheckClientFile(const std::string& name, const ozo::blob_t& bytes, const Secret& password);

// "the certificate in FILE expired on DATE" / "... is not valid before DATE":
// why the component refuses it as outside its validity period; empty when it
// is inside it now.
std::string ValidityProblem(const std::string& name, const X509* certificate);

}  // namespace certctl

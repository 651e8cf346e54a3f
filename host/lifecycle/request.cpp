#include "host/lifecycle/request.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include "ossl/text.h"

namespace host::lifecycle {

using ossl::UniquePtr;
namespace {

// The key usages a request may repeat, by their bit in the KeyUsage string.
constexpr const char* kKeyUsages[] = {"digitalSignature", "nonRepudiation", "keyEncipherment", "dataEncipherment",
                                      "keyAgreement"};

std::string Utf8(const ASN1_STRING* value) {
  unsigned char* text = nullptr;
  const int length = ASN1_STRING_to_UTF8(&text, value);
  const ossl::Memory<unsigned char> owned(text);
  return length > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<std::size_t>(length)) : "";
}

template <typename T>
UniquePtr<T> Extension(const STACK_OF(X509_EXTENSION) * extensions, int nid) {
  return UniquePtr<T>(static_cast<T*>(X509V3_get_d2i(extensions, nid, nullptr, nullptr)));
}

RequestSubject SubjectOf(const X509_NAME* name, const STACK_OF(X509_EXTENSION) * extensions) {
  RequestSubject asked;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    asked.name.emplace_back(OBJ_nid2sn(OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry))),
                            Utf8(X509_NAME_ENTRY_get_data(entry)));
  }
  const auto names = Extension<GENERAL_NAMES>(extensions, NID_subject_alt_name);
  for (int i = 0; names && i < sk_GENERAL_NAME_num(names.get()); ++i) {
    const GENERAL_NAME* each = sk_GENERAL_NAME_value(names.get(), i);
    if (each->type == GEN_DNS || each->type == GEN_EMAIL || each->type == GEN_URI || each->type == GEN_IPADD)
      asked.alternativeNames.push_back(ossl::AlternativeNameText(each));
  }
  if (const auto usage = Extension<ASN1_BIT_STRING>(extensions, NID_key_usage))
    for (int bit = 0; bit < static_cast<int>(std::size(kKeyUsages)); ++bit)
      if (ASN1_BIT_STRING_get_bit(usage.get(), bit)) asked.keyUsage.push_back(kKeyUsages[bit]);
  const auto purposes = Extension<EXTENDED_KEY_USAGE>(extensions, NID_ext_key_usage);
  for (int i = 0; purposes && i < sk_ASN1_OBJECT_num(purposes.get()); ++i) {
    const ASN1_OBJECT* purpose = sk_ASN1_OBJECT_value(purposes.get(), i);
    char dotted[80] = "";
    OBJ_obj2txt(dotted, sizeof(dotted), purpose, 1);
    const int nid = OBJ_obj2nid(purpose);
    asked.extendedKeyUsage.push_back(nid == NID_undef ? dotted : OBJ_nid2sn(nid));
  }
  return asked;
}

bool AddExtension(STACK_OF(X509_EXTENSION) * extensions, X509V3_CTX* context, const char* name,
                  const std::vector<std::string>& values) {
  if (values.empty()) return true;
  std::string joined;
  for (const std::string& value : values) joined += (joined.empty() ? "" : ",") + value;
  UniquePtr<X509_EXTENSION> extension(X509V3_EXT_nconf(nullptr, context, name, joined.c_str()));
  if (!extension || !sk_X509_EXTENSION_push(extensions, extension.get())) return false;
  extension.release();  // the stack's now
  return true;
}

}  // namespace

UniquePtr<X509_NAME> NameOf(const NameFields& fields, std::string& error) {
  UniquePtr<X509_NAME> name(X509_NAME_new());
  for (const auto& [field, value] : fields)
    if (!name || !X509_NAME_add_entry_by_txt(name.get(), field.c_str(), MBSTRING_UTF8,
                                             reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0)) {
      ERR_clear_error();
      error = "a name cannot hold " + field + "=" + value +
              (field == "C" || field == "countryName" ? " (a country is its two-letter code)" : "");
      return nullptr;
    }
  return name;
}

RequestSubject ForClientUse(RequestSubject subject, KeyAlgorithm algorithm) {
  if (subject.keyUsage.empty()) {
    subject.keyUsage.push_back("digitalSignature");
    if (algorithm != KeyAlgorithm::EcP256 && algorithm != KeyAlgorithm::EcP384)
      subject.keyUsage.push_back("keyEncipherment");
  }
  if (subject.extendedKeyUsage.empty()) subject.extendedKeyUsage.push_back("clientAuth");
  return subject;
}

RequestSubject SubjectOf(X509* certificate) {
  return SubjectOf(X509_get_subject_name(certificate), X509_get0_extensions(certificate));
}

bool SubjectOfDer(const std::string& nameDer, const std::string& extensionsDer, RequestSubject& subject) {
  const auto* at = reinterpret_cast<const unsigned char*>(nameDer.data());
  const UniquePtr<X509_NAME> name(d2i_X509_NAME(nullptr, &at, static_cast<long>(nameDer.size())));
  at = reinterpret_cast<const unsigned char*>(extensionsDer.data());
  const UniquePtr<STACK_OF(X509_EXTENSION)> extensions(
      extensionsDer.empty() ? nullptr : d2i_X509_EXTENSIONS(nullptr, &at, static_cast<long>(extensionsDer.size())));
  const bool read = name && (extensionsDer.empty() || extensions);
  if (read) subject = SubjectOf(name.get(), extensions.get());
  return read;
}

ozo::result_t SignedRequest(EVP_PKEY* key, const RequestSubject& subject, RequestDocument& document,
                            std::string& error) {
  UniquePtr<X509_REQ> request(X509_REQ_new());
  const UniquePtr<X509_NAME> asked = NameOf(subject.name, error);
  if (!asked) return ozo::results::InvalidArgument;
  if (!request || !X509_REQ_set_subject_name(request.get(), asked.get())) {
    error = "the request cannot hold its subject";
    return ozo::results::InvalidArgument;
  }
  X509_NAME* name = X509_REQ_get_subject_name(request.get());
  X509V3_CTX context;
  X509V3_set_ctx(&context, nullptr, nullptr, request.get(), nullptr, 0);
  const UniquePtr<STACK_OF(X509_EXTENSION)> extensions(sk_X509_EXTENSION_new_null());
  STACK_OF(X509_EXTENSION)* made = extensions.get();
  const bool added = made && AddExtension(made, &context, "subjectAltName", subject.alternativeNames) &&
                     AddExtension(made, &context, "keyUsage", subject.keyUsage) &&
                     AddExtension(made, &context, "extendedKeyUsage", subject.extendedKeyUsage) &&
                     (sk_X509_EXTENSION_num(made) == 0 || X509_REQ_add_extensions(request.get(), made));
  document.nameDer = ossl::DerOf(name, i2d_X509_NAME);
  document.extensionsDer = sk_X509_EXTENSION_num(made) > 0 ? ossl::DerOf(made, i2d_X509_EXTENSIONS) : "";
  if (!added || document.nameDer.empty()) {
    error = "the request cannot hold its names or usages";
    return ozo::results::InvalidArgument;
  }
  const int type = EVP_PKEY_get_base_id(key);
  if (!X509_REQ_set_version(request.get(), 0) || !X509_REQ_set_pubkey(request.get(), key) ||
      !X509_REQ_sign(request.get(), key, type == EVP_PKEY_RSA || type == EVP_PKEY_EC ? EVP_sha256() : nullptr) ||
      (document.pem = ossl::Written([&](BIO* bio) { return PEM_write_bio_X509_REQ(bio, request.get()); })).empty()) {
    error = "the request cannot be signed";
    return ozo::results::UnspecifiedError;
  }
  return ozo::results::NoError;
}

}  // namespace host::lifecycle

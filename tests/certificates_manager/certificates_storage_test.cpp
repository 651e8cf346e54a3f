// The certificate storage on hosts that do what the reference host does not:
// stores that keep duplicate names, a serializer that fills the holder of
// what it serializes. Its layout, results and failure records are in the
// transcripts; failed host calls of every operation in the fault sweep.
#include "certificates_manager/certificates_storage.h"

#include <gtest/gtest.h>

#include "tests/support/recording_host.h"

namespace {

using ivo::ServerCertificate;

ServerCertificate Server(const char* bytes) { return ServerCertificate{ozo::blob_t(bytes, std::strlen(bytes))}; }

// On a host whose AppendNode adds a second child of a name, a save appends
// without touching the first: the component removes before it saves.
TEST(CertificatesStorageOnAnAppendingStore, SavingAnExistingKeyAppendsAgain) {
  host::HostOptions options;
  options.store = host::Make<host::MemoryPersistentStorage>(host::DuplicateNames::Append);
  test::RecordingHost host(std::move(options));
  ivo::CertificatesStorage storage(host.locator());
  ASSERT_EQ(storage.SaveCertificate(1, Server("first")), 0);
  ASSERT_EQ(storage.SaveCertificate(1, Server("second")), 0);
  ServerCertificate read;
  ASSERT_EQ(storage.GetCertificate(1, read), 0);
  EXPECT_EQ(read.certificate, ozo::blob_t("first", 5));
  std::vector<ServerCertificate> loaded;
  ASSERT_EQ(storage.LoadCertificates(loaded), 0);
  EXPECT_EQ(loaded.size(), 2u);
}

// A serializer may fill the holder of the structure it writes with a
// reference of its own; the caller releases it after the call, every time.
TEST(CertificatesStorageOnAHolderFillingSerializer, ReleasesEveryHolderItIsGiven) {
  struct Holder : host::HostObject<ozo::IObject> {};
  test::RecordingHost host;
  const auto holder = host::Make<Holder>();
  host.serializer().FillHolders(ozo::ref_ptr<ozo::IObject>(holder.get()));
  ivo::CertificatesStorage storage(host.locator());
  for (int save = 0; save < 1000; ++save) ASSERT_EQ(storage.SaveCertificate(1 + save % 4, Server("record")), 0);
  host.serializer().FillHolders(nullptr);
  holder->AddRef();
  EXPECT_EQ(holder->Release(), 1u);  // only this test's own reference is left
}

}  // namespace

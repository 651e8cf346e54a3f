// The manager's own cost against the OpenSSL work any implementation must do,
// on a 2048-bit RSA certificate and an AES-256 PKCS#12 container.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/openssl_floor.h"
#include "bench/ratio_reporter.h"
#include "certificates_manager/cert_parser/library_context.h"
#include "host/service_host.h"
#include "host/storage/sqlite_store.h"
#include "ivo/certificates_manager.h"
#include "ozo/module.h"
#include "tests/support/certificate_builder.h"

namespace {

const ozo::blob_t& ServerDer(int variant = 0) {
  static const ozo::blob_t a = test::MakeDer(bench::RsaSpec("server-a.example.com"));
  static const ozo::blob_t b = test::MakeDer(bench::RsaSpec("server-b.example.com"));
  return variant ? b : a;
}

const ozo::blob_t& Container() {
  static const ozo::blob_t container = [] {
    test::Pkcs12Params params;
    params.certificate = bench::RsaSpec("client.example.com");
    params.password = "secret";
    return test::MakePkcs12(params);  // AES-256-CBC, 2048 iterations
  }();
  return container;
}

// A library context of the calling thread's own, made on its first use.
const ivo::openssl::LibraryContext& ThreadContext() {
  thread_local const ivo::openssl::LibraryContext context;
  return context;
}

void Floor(benchmark::State& state) {
  for (auto _ : state) bench::DecodeAndExtract(ServerDer());
}
BENCHMARK(Floor);

// Stretch: the same floor with the component's own library context as the
// thread's default, and with the two digests fetched once instead of by the
// implicit fetch of EVP_sha1/EVP_sha256 on every call.
void FloorInComponentContext(benchmark::State& state) {
  ivo::openssl::ScopedDefaultContext scope(ThreadContext());
  for (auto _ : state) bench::DecodeAndExtract(ServerDer());
}
BENCHMARK(FloorInComponentContext);

void FloorWithFetchedDigests(benchmark::State& state) {
  ivo::openssl::UniquePtr<EVP_MD> sha1(EVP_MD_fetch(nullptr, "SHA1", nullptr));
  ivo::openssl::UniquePtr<EVP_MD> sha256(EVP_MD_fetch(nullptr, "SHA256", nullptr));
  for (auto _ : state) {
    const unsigned char* bytes = ServerDer().data();
    ivo::openssl::UniquePtr<X509> certificate(d2i_X509(nullptr, &bytes, static_cast<long>(ServerDer().size())));
    bench::ExtractFields(certificate.get(), sha1.get(), sha256.get());
  }
}
BENCHMARK(FloorWithFetchedDigests);

void Pkcs12Parse(benchmark::State& state) {
  for (auto _ : state) bench::ParseContainer(Container(), "secret");
}
BENCHMARK(Pkcs12Parse);

// A manager on a host with the given store and trace threshold, type 1
// holding both certificates.
struct Fixture {
  explicit Fixture(std::uint32_t traceThreshold = 0, ozo::ref_ptr<ozo::IPersistentStorage> store = {}) {
    host::HostOptions options;
    options.traceThreshold = traceThreshold;
    options.store = std::move(store);
    host = std::make_unique<host::ServiceHost>(std::move(options));
    host->tracer().SetSink([](std::uint32_t, const std::string&) {});  // accepted records are dropped
    host->events().SetSink(nullptr);
    ozo::ref_ptr<ozo::IObject> object;
    ozoCreateObject(ivo::ClsIdCertificatesManager, host->locatorAddress(), object.Ref());
    ozo::QueryInterface(object.get(), manager);
    manager->SetPolicyServerCertificate(1, ivo::ServerCertificate{ServerDer()});
    manager->SetPolicyClientCertificate(1, ivo::ClientCertificate(Container(), "secret"));
  }
  ~Fixture() { manager.Reset(); }
  std::unique_ptr<host::ServiceHost> host;
  ozo::ref_ptr<ivo::ICertificatesManager> manager;
};

// Throughput on N threads: each iteration runs a batch of `work` calls on
// each of N threads and reports the wall time per call, so that
// time(1 thread) / time(2 threads) is the speed-up.
template <class Work>
void Parallel(benchmark::State& state, Work work) {
  const int threads = static_cast<int>(state.range(0));
  constexpr int kPerThread = 24;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
      workers.emplace_back([&] {
        for (int i = 0; i < kPerThread; ++i) work();
      });
    for (std::thread& worker : workers) worker.join();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count() / (threads * kPerThread));
  }
}

void QueryParallel(benchmark::State& state) {
  Fixture fixture;
  Parallel(state, [&] {
    ozo::string8_t json;
    fixture.manager->QueryServerCertificate(1, json);
  });
}
BENCHMARK(QueryParallel)->Arg(1)->Arg(2)->UseManualTime();

void FloorParallel(benchmark::State& state) {
  Parallel(state, [] { bench::DecodeAndExtract(ServerDer()); });
}
BENCHMARK(FloorParallel)->Arg(1)->Arg(2)->UseManualTime();

// The floor when each thread decodes in a library context of its own, as the
// component does.
void FloorParallelOwnContexts(benchmark::State& state) {
  Parallel(state, [] {
    ivo::openssl::ScopedDefaultContext scope(ThreadContext());
    bench::DecodeAndExtract(ServerDer());
  });
}
BENCHMARK(FloorParallelOwnContexts)->Arg(1)->Arg(2)->UseManualTime();

void GetServerCertificate(benchmark::State& state) {
  Fixture fixture;
  for (auto _ : state) {
    ivo::ServerCertificate out;
    benchmark::DoNotOptimize(fixture.manager->GetServerCertificate(1, out));
  }
}
BENCHMARK(GetServerCertificate);

void GetServerPemCertificate(benchmark::State& state) {
  Fixture fixture;
  for (auto _ : state) {
    ivo::ServerCertificate out;
    benchmark::DoNotOptimize(fixture.manager->GetServerPemCertificate(1, out));
  }
}
BENCHMARK(GetServerPemCertificate);

void QueryServerCertificate(benchmark::State& state) {
  Fixture fixture(static_cast<std::uint32_t>(state.range(0)));
  for (auto _ : state) {
    ozo::string8_t json;
    benchmark::DoNotOptimize(fixture.manager->QueryServerCertificate(1, json));
  }
}
// Trace threshold: 0 refuses every record, 300 refuses level 800, 1000 accepts all.
BENCHMARK(QueryServerCertificate)->Arg(0)->Arg(300)->Arg(1000);

void QueryClientCertificate(benchmark::State& state) {
  Fixture fixture;
  for (auto _ : state) {
    ozo::string8_t json;
    benchmark::DoNotOptimize(fixture.manager->QueryClientCertificate(1, json));
  }
}
BENCHMARK(QueryClientCertificate);

void SetServerCertificateReplacing(benchmark::State& state) {
  Fixture fixture;
  int variant = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        fixture.manager->SetPolicyServerCertificate(1, ivo::ServerCertificate{ServerDer(variant)}));
    variant ^= 1;
  }
}
BENCHMARK(SetServerCertificateReplacing);

void RemoveServerCertificate(benchmark::State& state) {
  Fixture fixture;
  for (auto _ : state) {
    state.PauseTiming();
    fixture.manager->SetPolicyServerCertificate(1, ivo::ServerCertificate{ServerDer()});
    state.ResumeTiming();
    benchmark::DoNotOptimize(fixture.manager->RemovePolicyServerCertificate(1));
  }
}
BENCHMARK(RemoveServerCertificate);

void ConstructionWithEightCertificates(benchmark::State& state) {
  host::HostOptions options;
  options.traceThreshold = 0;
  host::ServiceHost host(std::move(options));
  host.events().SetSink(nullptr);
  {
    ozo::ref_ptr<ozo::IObject> object;
    ozoCreateObject(ivo::ClsIdCertificatesManager, host.locatorAddress(), object.Ref());
    ozo::ref_ptr<ivo::ICertificatesManager> manager;
    ozo::QueryInterface(object.get(), manager);
    for (ivo::CertificateType type = 1; type <= 4; ++type) {
      manager->SetPolicyServerCertificate(type, ivo::ServerCertificate{ServerDer()});
      manager->SetPolicyClientCertificate(type, ivo::ClientCertificate(Container(), "secret"));
    }
  }
  for (auto _ : state) {
    ozo::ref_ptr<ozo::IObject> object;
    benchmark::DoNotOptimize(ozoCreateObject(ivo::ClsIdCertificatesManager, host.locatorAddress(), object.Ref()));
  }
}
BENCHMARK(ConstructionWithEightCertificates);

// The same reads and changes on the reference host's SQLite store.
ozo::ref_ptr<ozo::IPersistentStorage> SqliteStore() {
  const std::string path = "/tmp/cm-bench-" + std::to_string(::getpid()) + ".db";
  std::remove(path.c_str());
  ozo::ref_ptr<host::SqliteStore> store;
  std::string error;
  host::SqliteStore::Open(path, host::SqliteStore::Mode::ReadWrite, store, error);
  return ozo::ref_ptr<ozo::IPersistentStorage>(store);
}

void SqliteGetServerCertificate(benchmark::State& state) {
  Fixture fixture(0, SqliteStore());
  for (auto _ : state) {
    ivo::ServerCertificate out;
    benchmark::DoNotOptimize(fixture.manager->GetServerCertificate(1, out));
  }
}
BENCHMARK(SqliteGetServerCertificate);

void SqliteQueryServerCertificate(benchmark::State& state) {
  Fixture fixture(0, SqliteStore());
  for (auto _ : state) {
    ozo::string8_t json;
    benchmark::DoNotOptimize(fixture.manager->QueryServerCertificate(1, json));
  }
}
BENCHMARK(SqliteQueryServerCertificate);

void SqliteSetServerCertificateReplacing(benchmark::State& state) {
  Fixture fixture(0, SqliteStore());
  int variant = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        fixture.manager->SetPolicyServerCertificate(1, ivo::ServerCertificate{ServerDer(variant)}));
    variant ^= 1;
  }
}
BENCHMARK(SqliteSetServerCertificateReplacing);

}  // namespace

int main(int argc, char** argv) {
  // Inputs are made (keys generated) before anything is timed.
  ServerDer(0);
  ServerDer(1);
  Container();
  const int missed = bench::RunWithRatios(
      argc, argv,
      {{"QueryServerCertificate/0", "Floor", 1.10},
       {"QueryClientCertificate", "Pkcs12Parse+Floor", 1.05},
       {"GetServerCertificate", "Floor", 0.03},
       {"GetServerPemCertificate", "Floor", 0},
       {"QueryServerCertificate/300", "QueryServerCertificate/0", 1.01},
       {"QueryServerCertificate/1000", "QueryServerCertificate/0", 0},
       {"QueryParallel/1/manual_time", "QueryParallel/2/manual_time", 1.8, true},
       {"FloorParallel/1/manual_time", "FloorParallel/2/manual_time", 0, true},
       {"FloorParallelOwnContexts/1/manual_time", "FloorParallelOwnContexts/2/manual_time", 0, true},
       {"SetServerCertificateReplacing", "2*Floor", 0},
       {"RemoveServerCertificate", "Floor", 0},
       {"ConstructionWithEightCertificates", "8*Floor+4*Pkcs12Parse", 1.05},
       {"FloorInComponentContext", "Floor", 0},
       {"FloorWithFetchedDigests", "Floor", 0},
       {"SqliteGetServerCertificate", "Floor", 0},
       {"SqliteQueryServerCertificate", "QueryServerCertificate/0", 0},
       {"SqliteSetServerCertificateReplacing", "SetServerCertificateReplacing", 0}});
  return missed == 0 ? 0 : 1;
}

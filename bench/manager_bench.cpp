// The manager's cost against the OpenSSL work any implementation must do, on
// a 2048-bit RSA certificate and an AES-256 PKCS#12 container, each ratio
// measured in alternating batches (bench/paired.h).
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/openssl_floor.h"
#include "bench/paired.h"
#include "certificates_manager/cert_parser/cert_parser.h"
#include "host/service_host.h"
#include "host/storage/sqlite_store.h"
#include "ivo/certificates_manager.h"
#include "ozo/module.h"

namespace {

using bench::PairedRatio;

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

void Floor() { bench::DecodeAndExtract(ServerDer()); }

// A manager on the reference host with its defaults (nothing recorded), a
// trace threshold and a store, type 1 holding both certificates.
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
    for (ivo::CertificateType type = 1; type <= 4; ++type) {
      manager->SetPolicyServerCertificate(type, ivo::ServerCertificate{ServerDer()});
      manager->SetPolicyClientCertificate(type, ivo::ClientCertificate(Container(), "secret"));
    }
  }
  ~Fixture() { manager.Reset(); }

  void Query() {
    ozo::string8_t json;
    manager->QueryServerCertificate(1, json);
  }

  std::unique_ptr<host::ServiceHost> host;
  ozo::ref_ptr<ivo::ICertificatesManager> manager;
};

ozo::ref_ptr<ozo::IPersistentStorage> SqliteStore() {
  const std::string path = "/tmp/cm-bench-" + std::to_string(::getpid()) + ".db";
  std::remove(path.c_str());
  ozo::ref_ptr<host::SqliteStore> store;
  std::string error;
  host::SqliteStore::Open(path, host::SqliteStore::Mode::ReadWrite, store, error);
  return ozo::ref_ptr<ozo::IPersistentStorage>(store);
}

void Decode() {
  ivo::Certificate record;
  ivo::ParseServerCertificate(nullptr, ServerDer(), record);
}

// Persistent worker threads, as a host's pool: Run gives each of the first
// `threads` workers `count` calls of `work` and waits for all of them.
class Workers {
 public:
  explicit Workers(int size) {
    for (int i = 0; i < size; ++i) m_threads.emplace_back([this, i] { Serve(i); });
  }
  ~Workers() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads) thread.join();
  }
  void Run(const bench::Work& work, int threads, int count) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_work = &work, m_active = threads, m_count = count, m_pending = threads, ++m_round;
    m_wake.notify_all();
    m_done.wait(lock, [&] { return m_pending == 0; });
  }

 private:
  void Serve(int index) {
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      m_wake.wait(lock, [&] { return m_stop || m_round != seen; });
      if (m_stop) return;
      seen = m_round;
      if (index >= m_active) continue;
      const bench::Work* work = m_work;
      const int count = m_count;
      lock.unlock();
      for (int i = 0; i < count; ++i) (*work)();
      lock.lock();
      if (--m_pending == 0) m_done.notify_all();
    }
  }

  std::vector<std::thread> m_threads;
  std::mutex m_mutex;
  std::condition_variable m_wake, m_done;
  const bench::Work* m_work = nullptr;
  int m_active = 0, m_count = 0, m_pending = 0;
  std::uint64_t m_round = 0;
  bool m_stop = false;
};

// The speed-up of `work` on two workers (time of 2N calls on one worker over
// time of N calls on each of two) divided by the floor's own speed-up, the
// four timings of each pair taken in the same window.
PairedRatio TwoThreadSpeedUp(const bench::Work& work) {
  Workers workers(2);
  const bench::Work floor = Floor;
  constexpr int kCalls = 40;
  std::vector<double> ratios;
  for (int pair = 0; pair < 31; ++pair) {
    auto timed = [&](const bench::Work& w, int threads) {
      return bench::SecondsOf([&] { workers.Run(w, threads, 2 * kCalls / threads); }, 1);
    };
    const double work1 = timed(work, 1), floor2 = timed(floor, 2), floor1 = timed(floor, 1), work2 = timed(work, 2);
    ratios.push_back((work1 / work2) / (floor1 / floor2));
  }
  return bench::Summarize(ratios);
}

}  // namespace

int main(int argc, char** argv) {
  // Inputs are made (keys generated) before anything is timed.
  ServerDer(0);
  ServerDer(1);
  Container();
  Fixture memory(0), refusing800(300), sqlite(0, SqliteStore());
  host::HostOptions quiet;  // eight certificates for the construction, no trace
  quiet.traceThreshold = 0;
  host::ServiceHost stored(std::move(quiet));
  stored.events().SetSink(nullptr);
  { Fixture filler(0, ozo::ref_ptr<ozo::IPersistentStorage>(stored.store())); }

  const auto get = [&] {
    ivo::ServerCertificate out;
    memory.manager->GetServerCertificate(1, out);
  };
  const auto queryClient = [&] {
    ozo::string8_t json;
    memory.manager->QueryClientCertificate(1, json);
  };
  const auto construct = [&] {
    ozo::ref_ptr<ozo::IObject> object;
    ozoCreateObject(ivo::ClsIdCertificatesManager, stored.locatorAddress(), object.Ref());
  };
  const auto eightFloors = [] {
    for (int i = 0; i < 4; ++i) {
      Floor();
      bench::ParseContainer(Container(), "secret");
      Floor();
    }
  };
  const auto thread = [](const bench::Work& work) {
    std::thread decoder(work);
    decoder.join();
  };
  const int missed = bench::RunPairedGoals(
      argc, argv,
      {{"QueryServerCertificate/floor", [&] { return bench::MeasurePaired([&] { memory.Query(); }, Floor); }, 1.10},
       {"QueryClientCertificate/(PKCS12_parse+floor)",
        [&] {
          return bench::MeasurePaired(queryClient, [] {
            bench::ParseContainer(Container(), "secret");
            Floor();
          });
        },
        1.05},
       {"GetServerCertificate/floor", [&] { return bench::MeasurePaired(get, Floor); }, 0.03},
       {"Query, tracer refusing 800/refusing all",
        [&] { return bench::MeasurePaired([&] { refusing800.Query(); }, [&] { memory.Query(); }); }, 1.01},
       {"Construction over 8 certificates/their floors", [&] { return bench::MeasurePaired(construct, eightFloors); },
        1.05},
       {"First decode on a new thread/steady decode",
        [&] { return bench::MeasurePaired([&] { thread(Decode); }, [&] { thread([] {}), Decode(); }); }, 1.5},
       // Both sides start, run and join the same 1000 threads; the floor's
       // threads decode in a context made before (one thread at a time uses
       // it), so the ratio is what a new thread costs inside the component.
       {"1000 threads decoding once/1000 threads decoding the floor",
        [&] {
          static const ivo::openssl::LibraryContext ready;
          return bench::MeasurePaired([&] { thread(Decode); },
                                      [&] { thread([] { bench::DecodeAndExtract(ServerDer(), ready); }); }, 11, 1000);
        },
        1.5},
       {"Query speed-up on 2 threads/floor's speed-up", [&] { return TwoThreadSpeedUp([&] { memory.Query(); }); }, 0.95,
        true},
       {"SQLite query/memory query",
        [&] { return bench::MeasurePaired([&] { sqlite.Query(); }, [&] { memory.Query(); }); }, 0}});
  return missed == 0 ? 0 : 1;
}

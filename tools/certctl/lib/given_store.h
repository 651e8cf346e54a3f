// A store given as data, besides the session's own: an old store to upgrade
// from, a backup to restore.
#pragma once

#include <memory>
#include <string>

#include "host/service_host.h"
#include "host/storage/sqlite_store.h"

namespace certctl {

// Opens the store at `path` to read it as data (checked whole, see
// SqliteStore::Mode::Import); throws Failure with `exitCode` and `refusal`
// before the reason.
ozo::ref_ptr<host::SqliteStore> OpenGivenStore(const std::string& path, int exitCode, const std::string& refusal);

// The same for a store streamed on standard input (read whole into memory,
// up to kMaxStreamedStoreBytes; nothing of it is written to disk).
constexpr std::size_t kMaxStreamedStoreBytes = 256u << 20;
ozo::ref_ptr<host::SqliteStore> OpenStreamedStore(int exitCode, const std::string& refusal);

// A host over a store that is only read: null when the store holds no tree
// of the certificates manager.
std::unique_ptr<host::ServiceHost> ReadingHost(const ozo::ref_ptr<host::SqliteStore>& store);

// Whether any slot of the host's store holds a client record.
bool HoldsClients(host::ServiceHost& host);

}  // namespace certctl

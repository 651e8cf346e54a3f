// The nodes of the trees the SQLite store keeps.
#pragma once

#include <cstdint>
#include <string>

#include "host/storage/sqlite_store.h"
#include "ozo/ref_ptr.h"
#include "ozo/storage.h"

namespace host {

// The node of row `id` (named `name`) in `store`. Every call runs under the
// store's lock and fails once the store's unit of work is lost (see
// SqliteStore).
ozo::ref_ptr<ozo::IStorage> MakeSqliteNode(ozo::ref_ptr<SqliteStore> store, std::int64_t id, std::string name);

}  // namespace host

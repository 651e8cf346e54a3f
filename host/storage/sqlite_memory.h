// SQLite's memory in a process that keeps secrets in its stores.
#pragma once

namespace host::sqlite {

// Makes SQLite overwrite every block of its memory with zeros before the
// block is released: its page cache and the values it copies hold client
// certificates' passwords, which must not outlive their use in freed memory.
// Takes effect only before SQLite is first initialised in the process
// (SqliteStore::Open calls it first); returns whether it did.
bool WipeReleasedMemory();

}  // namespace host::sqlite

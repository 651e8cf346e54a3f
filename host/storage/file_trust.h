// Whether another user can steer a file that decides trust (a store holding
// trust anchors and client keys): ssh's StrictModes for ~/.ssh, adapted to
// sticky folders.
#pragma once

#include <sys/types.h>

#include <string>

#include "ozo/result.h"

namespace host {

// Whether `path` (which need not exist yet) and the folders above it are
// safe for this process's effective user; refused ("Access denied") with
// `problem`, one sentence that names the file or folder, its owner and mode,
// and the fix. Safe means:
//  - the file, when it exists, is owned by the user or by root and not
//    writable by group or others (what is not a regular file is the
//    caller's to refuse: SQLite opens no link, folder or device as a store);
//  - its own folder is owned by the user or root and not writable by group
//    or others, sticky or not: SQLite makes the journal by name beside the
//    store, so whoever may create files there could plant one;
//  - every folder above is owned by the user or root and not writable by
//    group or others unless it is sticky (in a sticky folder such as /tmp
//    nobody else can rename or remove what the user owns).
// Folders are judged on the path with symbolic links resolved. A folder
// that does not exist is not judged (the open that follows fails on it).
ozo::result_t CheckTrustedPath(const std::string& path, std::string& problem);

// Whether no -journal, -wal or -shm file lies beside `path`, or each that
// does is a regular file owned by `owner` (the store's owner); refused
// ("Access denied") with `problem` naming the side file. SQLite applies such a file to the store on
// its next open, so one that someone else made is never left to it.
ozo::result_t CheckSideFiles(const std::string& path, uid_t owner, std::string& problem);

// The suffixes of the files SQLite keeps beside a database.
constexpr const char* kSideFileSuffixes[] = {"-journal", "-wal", "-shm"};

// The user's name ("nobody"), or the number when the user has no name.
std::string UserName(uid_t uid);
// "user nobody (65534)"
std::string UserText(uid_t uid);

}  // namespace host

// Files written for a person (an export, a request, metrics, a backup), as
// coreutils' install writes them: whole or not at all, owner-only from the
// moment they exist, and never through what someone else put at the name.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include "ozo/result.h"

namespace host {

// Writes `path` with what `write` puts into a descriptor (false, with
// `error` set, when it cannot), judging the name first by what is there,
// opened without following a link or waiting on a pipe (O_PATH|O_NOFOLLOW)
// and judged by fstat:
//  - nothing, a regular file or a symbolic link, each this user's or
//    root's: the content goes to a new file beside it (".NAME.XXXXXX",
//    locked while it is written, mode `mode` from the start), synced and
//    renamed over the name, so readers see the old file or the whole new
//    one, and a link is replaced, never followed; a temporary file a killed
//    writer left (this user's, unlocked) is removed first;
//  - a character device of root's (/dev/null): written in place;
//  - anything else is refused ("Access denied"): another user's file or
//    link (in a sticky folder such as /tmp), a pipe (which another user may
//    read, or nobody, which would hang the writer), a socket, a folder, a
//    block device.
// `error` says why in one sentence naming the file.
ozo::result_t WriteOutputFile(const std::string& path, mode_t mode, const std::function<bool(int, std::string&)>& write,
                              std::string& error);

}  // namespace host

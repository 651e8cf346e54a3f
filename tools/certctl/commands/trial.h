// The trial a renewal or an installation runs before it keeps a new pair:
// the pair against the peer the lifecycle names, with the stored server
// certificate as the anchor. Shared by the commands that install (not a
// command itself).
#pragma once

#include "host/lifecycle/installation.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

// The lifecycle's trial of `type`'s new pairs in `session`: the handshake
// of a probe against the target it is given, by the deadline it is given;
// why the pair does not work (or why it could not be tried), or empty when
// it does. Throws nothing.
host::lifecycle::Trial PeerTrial(Session& session, ivo::PeerType type);

}  // namespace certctl

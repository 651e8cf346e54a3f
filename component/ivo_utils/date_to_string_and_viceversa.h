// Calendar time to POSIX time.
#pragma once

#include <ctime>

namespace ivo {

// mktime on `time` (taken as local time and normalised in place). Throws
// std::system_error when mktime fails with errno set; -1 with errno unset is a
// valid time (one second before the epoch in the local zone) and is returned.
std::time_t MakeTimeT(std::tm& time);

}  // namespace ivo

// Transcripts: the text a test run writes down, compared with a reviewed copy
// kept as data. A transcript is reviewed once, when it is written; a run that
// differs leaves its own text beside it for the reviewer, and is never copied
// over the reviewed one to make a test pass.
#pragma once

#include <string>

namespace test {

// Masks what varies with the OpenSSL release or the certificates' fresh keys:
// OpenSSL's error strings and digests; a digest keeps its length (<sha1>,
// <sha256>), so one written in place of the other still shows.
std::string MaskVarying(std::string text);

// Fails the test unless the transcript at `path` holds `actual`; then writes
// `actual` to `path`.actual (ignored by git) for review.
void ExpectTranscript(const std::string& actual, const std::string& path);

}  // namespace test

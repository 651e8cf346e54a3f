// Replays fuzz inputs without libFuzzer: every file named on the command
// line, or found in a folder named there, goes once through the target's
// LLVMFuzzerTestOneInput. Builds that are not fuzzing link the targets with
// this driver, so the targets compile against the current interfaces and
// their seed corpora run as tests (under the sanitizers in those builds).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void Replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path named(argv[i]);
    if (std::filesystem::is_directory(named)) {
      for (const auto& entry : std::filesystem::directory_iterator(named)) {
        Replay(entry.path());
        ++replayed;
      }
    } else {
      Replay(named);
      ++replayed;
    }
  }
  std::cout << replayed << " inputs replayed\n";
  return replayed == 0 ? 1 : 0;
}

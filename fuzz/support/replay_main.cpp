// Runs a fuzz target over saved inputs without the fuzzer: every file named, and every file of
// every folder named (a folder that does not exist holds no inputs). A broken rule aborts, so
// the run fails, as does a run that finds no input at all; otherwise it says how many passed.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/fuzz_target.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputsOf(const fs::path& given) {
  std::error_code error;
  if (!fs::is_directory(given, error)) {
    return fs::is_regular_file(given, error) ? std::vector<fs::path>{given}
                                             : std::vector<fs::path>{};
  }
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(given)) {
    // Dot files (a folder's .gitkeep) and stamps are not inputs.
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name[0] != '.' && entry.path().extension() != ".stamp") {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());  // the same order on every run
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  int ran = 0;
  for (int i = 1; i < argc; ++i) {
    for (const fs::path& file : InputsOf(argv[i])) {
      std::ifstream in(file, std::ios::binary);
      const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
      std::fprintf(stderr, "replay: %s\n", file.c_str());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++ran;
    }
  }
  // A replay of nothing would pass whatever the target does: the seeds were not made.
  if (ran == 0) {
    std::fprintf(stderr, "replay: no inputs found\n");
    return 1;
  }
  std::printf("replay: %d inputs passed\n", ran);
  return 0;
}

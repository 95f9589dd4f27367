// Runs a fuzz target's LLVMFuzzerTestOneInput over the inputs named on the command
// line (files, or folders read recursively in name order), once each. Linked in
// place of libFuzzer when the build does not fuzz, so ctest replays every corpus,
// regression inputs included, in the ordinary and sanitizer builds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of exactly the input's size, so ASan sees a read past its end.
  std::vector<uint8_t> data(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    fs::path arg(argv[i]);
    std::error_code error;
    if (fs::is_directory(arg, error)) {
      for (const auto& entry : fs::recursive_directory_iterator(arg)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else {
      files.push_back(arg);
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...: no inputs found\n", argv[0]);
    return 2;
  }
  size_t unreadable = 0;
  for (const fs::path& file : files) {
    if (!RunFile(file)) ++unreadable;
  }
  std::printf("replayed %zu inputs\n", files.size() - unreadable);
  return unreadable == 0 ? 0 : 1;
}

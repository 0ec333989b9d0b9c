// Replays a corpus through a fuzz target without libFuzzer, so that every build (GCC included)
// runs the inputs that once found a fault. Arguments: files or folders of inputs.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  // An empty vector's data() may be null; the target gets a valid pointer all the same.
  static const std::uint8_t kNothing = 0;
  const auto* data =
      bytes.empty() ? &kNothing : reinterpret_cast<const std::uint8_t*>(bytes.data());
  LLVMFuzzerTestOneInput(data, bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  bool readable = true;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    std::error_code error;
    if (!std::filesystem::is_directory(path, error)) {
      readable = Replay(path) && readable;
      ++replayed;
      continue;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(path, error))
      if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      readable = Replay(file) && readable;
      ++replayed;
    }
  }
  std::printf("replay: %zu inputs\n", replayed);
  // A corpus that went missing must not pass as a clean replay.
  return readable && replayed > 0 ? 0 : 1;
}

// Writes a fuzz target's seed corpus into the folder named on the command
// line, one file per seed, so that the corpus is never kept in the tree.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "FuzzInput.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  std::filesystem::create_directories(argv[1]);
  int n = 0;
  for (const auto& seed : FuzzSeeds()) {
    const std::string path = std::string(argv[1]) + "/seed-" + std::to_string(n++);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
  }
  std::printf("%d seeds in %s\n", n, argv[1]);
  return 0;
}

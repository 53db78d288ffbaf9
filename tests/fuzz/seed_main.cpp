// Writes the seed corpus of a fuzz target into a directory: seed-00, seed-01...
#include <filesystem>
#include <fstream>

#include "fuzz_support.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    const std::vector<fuzz::Bytes> seeds = fuzz::seeds();
    for (size_t i = 0; i < seeds.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "seed-%02zu", i);
        std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
        if (!out.write(reinterpret_cast<const char*>(seeds[i].data()), std::streamsize(seeds[i].size()))) {
            std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
            return 1;
        }
    }
    std::printf("%zu seeds in %s\n", seeds.size(), dir.c_str());
    return 0;
}

// Replays every file of the given directories (or files) through the fuzz
// target, so the seed corpus runs as an ordinary test without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

static void runFile(const fs::path &p, int &count) {
    std::ifstream in(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    ++count;
}

int main(int argc, char **argv) {
    int count = 0;
    std::error_code ec;
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i], ec)) {
            if (fs::exists(argv[i], ec)) runFile(argv[i], count);
            continue;
        }
        for (const auto &e : fs::recursive_directory_iterator(argv[i], ec))
            if (e.is_regular_file()) runFile(e.path(), count);
    }
    LLVMFuzzerTestOneInput(nullptr, 0); // the empty input always runs
    std::printf("replayed %d inputs\n", count + 1);
    return 0;
}

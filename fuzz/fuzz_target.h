// Shared by the fuzz targets: FUZZ_TEXT_TARGET(text) { ... } defines the
// entry point libFuzzer (or replay_main.cpp) calls and hands the body the
// input as text; require() ends the run at a broken invariant.
#ifndef FUZZ_FUZZ_TARGET_H
#define FUZZ_FUZZ_TARGET_H

#include <cstdint>
#include <cstdlib>
#include <string>

inline void require(bool invariant) {
    if (!invariant) std::abort();
}

#define FUZZ_TEXT_TARGET(text)                                                                                 \
    static void fuzzText(const std::string &text);                                                             \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {                                  \
        fuzzText(std::string(reinterpret_cast<const char *>(data), size));                                     \
        return 0;                                                                                              \
    }                                                                                                          \
    static void fuzzText(const std::string &text)

#endif // FUZZ_FUZZ_TARGET_H

// The buffer book the utility library stand-in keeps and the test kit reads.
// Private to the two libraries.
#ifndef KELM_ACCOUNTING_H
#define KELM_ACCOUNTING_H

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace kelm_stub {

struct Accounting {
    std::mutex lock;
    std::unordered_map<const void *, uint32_t> live; // buffer -> size handed out
    uint64_t allocated = 0;
    uint64_t freed = 0;
    uint64_t badFrees = 0;
    uint64_t sizeMismatch = 0;
    int64_t failAfter = -1; // -1: never fail
};

// The name under which the test kit offers its book to the utility library.
// A process without the kit (a framework) gets a private book instead.
constexpr const char *kAccountingSymbol = "kelm_testkit_accounting";
using AccountingSource = Accounting *(*)();

} // namespace kelm_stub

#endif // KELM_ACCOUNTING_H

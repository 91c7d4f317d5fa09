// Fuzzes the conversion of a target's CHECK CONDITION data segment into
// fixed-format sense: any bytes give at most 252 bytes of sense, fixed
// sense is passed through as a prefix of what arrived, descriptor sense
// becomes an 18-byte fixed record carrying the same key, ASC and ASCQ.
#include "../platform/src/iscsi_session.h"
#include "fuzz_target.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Copy so reads past the end are caught exactly at the input's size.
    std::vector<uint8_t> copy(data, data + size);
    std::vector<uint8_t> sense = rendo_sim::fixedSenseFromSegment(copy.empty() ? nullptr : copy.data(), copy.size());
    require(sense.size() <= 252);
    if (sense.empty()) return 0;
    require(size >= 3);
    uint8_t code = copy[2] & 0x7F;
    if ((code == 0x72 || code == 0x73) && sense.size() == 18) {
        require((sense[2] & 0x0F) == (copy[3] & 0x0F) && sense[12] == copy[4] && sense[13] == copy[5]);
        return 0;
    }
    require(sense.size() <= size - 2 && std::memcmp(sense.data(), copy.data() + 2, sense.size()) == 0);
    return 0;
}

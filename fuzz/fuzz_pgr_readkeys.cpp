// Fuzzes the two PERSISTENT RESERVE IN parsers (READ KEYS and READ
// RESERVATION) with the same bytes as a device's answer: neither reads past
// the delivered bytes, and what they return fits what was delivered.
#include "fuzz_target.h"
#include "pgr/reservationdisk_wire.h"

#include <cstring>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // An exactly sized copy, so that any read beyond it is caught.
    std::unique_ptr<uint8_t[]> answer(new uint8_t[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(answer.get(), data, size);

    std::vector<std::string> keys = pgr_wire::parseReadKeys(answer.get(), size);
    require(keys.size() <= (size < 8 ? 0 : (size - 8) / 8));
    for (const std::string &key : keys) require(key.size() <= 8 && key.find('\0') == std::string::npos);
    std::vector<SReservationRecord> records = pgr_wire::parseReadReservation(answer.get(), size);
    require(records.size() <= (size < 8 ? 0 : (size - 8) / 16));
    for (const SReservationRecord &r : records) require(r.type >= 0 && r.type <= 15 && r.key.size() <= 8);
    return 0;
}

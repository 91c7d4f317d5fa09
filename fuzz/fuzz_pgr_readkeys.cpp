// Fuzzes the two PERSISTENT RESERVE IN parsers (READ KEYS and READ
// RESERVATION) with the same bytes as a device's answer: neither reads past
// the delivered bytes, and what they return fits what was delivered.
#include "pgr/reservationdisk_wire.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // An exactly sized copy, so that any read beyond it is caught.
    std::unique_ptr<uint8_t[]> answer(new uint8_t[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(answer.get(), data, size);

    std::vector<std::string> keys = pgr_wire::parseReadKeys(answer.get(), size);
    size_t roomForKeys = size < 8 ? 0 : (size - 8) / 8;
    if (keys.size() > roomForKeys) std::abort();
    for (const std::string &key : keys) {
        if (key.size() > 8 || key.find('\0') != std::string::npos) std::abort();
    }

    std::vector<SReservationRecord> records = pgr_wire::parseReadReservation(answer.get(), size);
    size_t roomForDescriptors = size < 8 ? 0 : (size - 8) / 16;
    if (records.size() > roomForDescriptors) std::abort();
    for (const SReservationRecord &record : records) {
        if (record.type < 0 || record.type > 15 || record.key.size() > 8) std::abort();
    }
    return 0;
}

// Helpers of the discovery tests.
#ifndef TESTS_UNIT_DISCOVERY_DISCOVERY_TEST_UTIL_H
#define TESTS_UNIT_DISCOVERY_DISCOVERY_TEST_UTIL_H

#include "../scsitool/trace_capture.h"
#include "scsitool/device_scsi_data.h"

#include <string>
#include <vector>

namespace discovery_test {

using namespace scsitool_test;

// Lines equal to text.
inline size_t countOf(const std::vector<TraceLine> &lines, const std::string &text) {
    size_t n = 0;
    for (const TraceLine &l : lines) n += l.message == text;
    return n;
}

// The lines containing part, in order.
inline std::vector<std::string> linesWith(const std::vector<TraceLine> &lines, const std::string &part) {
    std::vector<std::string> out;
    for (const TraceLine &l : lines)
        if (l.message.find(part) != std::string::npos) out.push_back(l.message);
    return out;
}

// Owns the records discovery hands back.
struct Records {
    std::vector<CScsiDeviceData *> v;
    ~Records() {
        for (CScsiDeviceData *d : v) delete d;
    }
    std::vector<std::string> vendors() const {
        std::vector<std::string> out;
        for (CScsiDeviceData *d : v) out.push_back(d->m_vendorId);
        return out;
    }
};

} // namespace discovery_test

#endif // TESTS_UNIT_DISCOVERY_DISCOVERY_TEST_UTIL_H

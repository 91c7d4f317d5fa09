// Fuzzes the page 0x83 designator walk and its printing: whatever the page
// says about its own length or its designators' lengths, every designator
// returned lies inside the stored bytes, follows the one before it, and
// printing reads nothing more.
#include "fuzz_target.h"
#include "scsitool/scsi_designators.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 0x20000) return 0;
    // Copy so reads past the end are caught exactly at the input's size.
    std::vector<uint8_t> copy(data, data + size);
    const uint8_t *page = copy.empty() ? nullptr : copy.data();
    ScsiDesignatorList list = WalkDeviceIdPage(page, uint32_t(size));
    size_t next = 4;
    for (const ScsiDesignator &d : list.designators) {
        require(d.offset == next && d.offset + 4 + d.id.size() <= size);
        next = d.offset + 4 + d.id.size();
    }
    FormatDeviceIdPage(page, uint32_t(size), 2, true);
    return 0;
}

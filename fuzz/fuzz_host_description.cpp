// Fuzzes the host description parser: any text either yields a host whose
// disks answer every INQUIRY within their buffers, or an error naming a line.
#include "platform/simhost.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    std::string error;
    auto host = rendo_sim::parseHostDescription(text, &error);
    if (!host) {
        if (error.rfind("line ", 0) != 0) std::abort();
        return 0;
    }
    for (rendo_sim::Lun *lun : host->luns()) {
        auto &disk = *lun->disk();
        if (disk.standardInquiry().size() > 255) std::abort();
        for (int page = -1; page < 256; page += page < 0 ? 1 : 17) {
            uint8_t cdb[6] = {0x12, uint8_t(page >= 0), uint8_t(page >= 0 ? page : 0), 0, 255, 0};
            uint8_t buf[255];
            rendo_sim::ScsiRequest req;
            req.cdb = cdb;
            req.cdbLength = sizeof cdb;
            req.direction = rendo_sim::DataDirection::In;
            req.data = buf;
            req.dataLength = sizeof buf;
            auto r = disk.execute(req, "fuzz", nullptr);
            if (r.dataTransferred > sizeof buf) std::abort();
        }
        disk.clearCommands();
    }
    return 0;
}

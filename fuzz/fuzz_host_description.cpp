// Fuzzes the host description parser: any text either yields a host whose
// disks answer every INQUIRY within their buffers, or an error naming a line.
#include "fuzz_target.h"
#include "platform/simhost.h"

FUZZ_TEXT_TARGET(text) {
    std::string error;
    auto host = rendo_sim::parseHostDescription(text, &error);
    if (!host) return require(error.rfind("line ", 0) == 0);
    for (rendo_sim::Lun *lun : host->luns()) {
        auto &disk = *lun->disk();
        require(disk.standardInquiry().size() <= 255);
        for (int page = -1; page < 256; page += page < 0 ? 1 : 17) {
            uint8_t cdb[6] = {0x12, uint8_t(page >= 0), uint8_t(page >= 0 ? page : 0), 0, 255, 0};
            uint8_t buf[255];
            const rendo_sim::ScsiRequest req{cdb, sizeof cdb, rendo_sim::DataDirection::In, buf, sizeof buf};
            require(disk.execute(req, "fuzz", nullptr).dataTransferred <= sizeof buf);
        }
        disk.clearCommands();
    }
}

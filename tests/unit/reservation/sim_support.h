// What a simulated disk holds, read by an observer initiator with READ KEYS
// and READ RESERVATION and decoded here byte by byte, independently of the
// provider's parsers; and the two-host set-up of the flow tests.
#ifndef TESTS_UNIT_RESERVATION_SIM_SUPPORT_H
#define TESTS_UNIT_RESERVATION_SIM_SUPPORT_H

#include "pgr_test_support.h"

#include "platform/simhost.h"

namespace pgr_test {

struct DiskView {
    std::vector<std::string> keys; // registered keys (8 bytes up to the first zero)
    std::string holderKey;         // empty: no reservation
    int type = -1;
};

// backend: the real target an iSCSI-backed disk forwards to.
inline std::vector<uint8_t> persistentReserveIn(rendo_sim::Disk &disk, uint8_t action, rendo_sim::DiskBackend *backend) {
    const uint8_t cdb[10] = {0x5E, action, 0, 0, 0, 0, 0, 0x01, 0x00, 0}; // allocation length 256
    std::vector<uint8_t> data(256, 0);
    const rendo_sim::ScsiRequest request{cdb, sizeof cdb, rendo_sim::DataDirection::In, data.data(), data.size()};
    rendo_sim::ScsiResult result = disk.execute(request, "iqn.2026-12.org.rendo:observer", backend);
    if (result.status == 0x02 && result.sense.size() > 2 && (result.sense[2] & 0x0F) == 0x06)
        result = disk.execute(request, "iqn.2026-12.org.rendo:observer", backend); // a unit attention, once
    EXPECT_FALSE(result.transportError) << result.transportMessage;
    EXPECT_EQ(0, result.status);
    data.resize(result.dataTransferred);
    return data;
}

inline std::string fieldText(const uint8_t *field) {
    std::string text;
    for (int i = 0; i < 8 && field[i] != 0; ++i) text += static_cast<char>(field[i]);
    return text;
}

// READ KEYS (action 0) and READ RESERVATION (action 1) as an initiator that
// never registers reads them, on the simulated disk or on the real target
// behind it.
inline DiskView look(rendo_sim::Disk &disk, rendo_sim::DiskBackend *backend = nullptr) {
    DiskView view;
    std::vector<uint8_t> keys = persistentReserveIn(disk, 0x00, backend);
    std::vector<uint8_t> reservation = persistentReserveIn(disk, 0x01, backend);
    if (keys.size() < 8 || reservation.size() < 8) ADD_FAILURE() << "short PR IN answer";
    keys.resize(std::max<size_t>(keys.size(), 8));
    reservation.resize(std::max<size_t>(reservation.size(), 8));
    EXPECT_TRUE(std::equal(keys.begin(), keys.begin() + 4, reservation.begin())) << "one generation";
    size_t length = (size_t{keys[4]} << 24) | (size_t{keys[5]} << 16) | (size_t{keys[6]} << 8) | keys[7];
    EXPECT_EQ(0u, length % 8);
    EXPECT_LE(8 + length, keys.size()) << "READ KEYS lists more than it returned";
    for (size_t at = 8; at + 8 <= std::min(8 + length, keys.size()); at += 8) view.keys.push_back(fieldText(&keys[at]));
    if (reservation[7] == 16 && reservation.size() >= 24) {
        view.holderKey = fieldText(&reservation[8]);
        view.type = reservation[8 + 13];  // scope 0 (logical unit) in the high nibble
    } else {
        EXPECT_EQ(0, reservation[7]) << "one reservation at most";
    }
    return view;
}

// The registered keys and the holder's key (empty: no reservation), which
// always has the flows' type, write exclusive registrants only.
inline void expectHeld(const DiskView &v, const std::vector<std::string> &keys, const std::string &holder) {
    EXPECT_EQ(keys, v.keys);
    EXPECT_EQ(holder, v.holderKey);
    EXPECT_EQ(holder.empty() ? -1 : 5, v.type);
}

// The PR OUT commands an initiator sent: "SA/type key/serviceActionKey".
inline std::vector<std::string> proutFrom(rendo_sim::Disk &disk, const std::string &initiator) {
    std::vector<std::string> out;
    for (const rendo_sim::CommandRecord &c : disk.commandsFrom(initiator)) {
        if (c.opcode() != 0x5F) continue;
        char head[16];
        std::snprintf(head, sizeof head, "%02X/%d ", c.cdb.at(1), c.cdb.at(2));
        out.push_back(head + fieldText(&c.dataOut.at(0)) + "/" + fieldText(&c.dataOut.at(8)));
    }
    return out;
}

constexpr int kRegister = 0x4000, kPreempt = 0x2000, kVerify = 0x10000, kRelease = 0x800;
const std::string kA = "c0a80001";
const std::string kB = "c0a80002";

// One disk that host A (through lunA) and host B (through lunB) share.
class TwoHosts : public ProviderFixture {
protected:
    using HostPtr = std::shared_ptr<rendo_sim::Host>;
    int reserve(const rendo_sim::Lun &lun, const std::string &key, int flags) {
        rendo_sim::ScopedHost use(&lun == &lunB ? hostB : hostA);
        return provider->diskReserve(lun.devicePath(), key, flags);
    }
    int release(const rendo_sim::Lun &lun, const std::string &key, int flags) {
        rendo_sim::ScopedHost use(&lun == &lunB ? hostB : hostA);
        return provider->diskRelease(lun.devicePath(), key, flags);
    }
    void expectDisk(const std::vector<std::string> &keys, const std::string &holder) {
        expectHeld(look(*disk), keys, holder);
    }

    HostPtr hostA = rendo_sim::Host::create("HOSTA");
    HostPtr hostB = rendo_sim::Host::create("HOSTB");
    rendo_sim::Lun &lunA = hostA->addDisk(rendo_sim::DiskSpec::make("DGC", "RAID 5", "0326", "SNAP0001"));
    rendo_sim::Lun &lunB = hostB->attach(lunA.disk(), rendo_sim::ScsiAddress{0, 0, 3, 0});
    rendo_sim::Disk *disk = lunA.disk().get();
};

} // namespace pgr_test

#endif // TESTS_UNIT_RESERVATION_SIM_SUPPORT_H

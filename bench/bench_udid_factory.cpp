// enumerateDeviceMap over simulated hosts of 16, 256 and 4096 disks: time per
// disk and SCSI commands per disk. Both should stay flat as the host grows
// (the cost of an enumeration linear in its disks). The disks cycle through
// the identifier families, so every generator's rule runs, NetApp's vendor
// query included.
#include "udid/device_udid_factory.h"

#include "platform/simhost.h"

#include "bench_counters.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string hex4(int i) {
    char b[8];
    std::snprintf(b, sizeof b, "%04x", i & 0xFFFF);
    return b;
}

rendo_sim::DiskSpec familyDisk(int i) {
    using rendo_sim::DiskSpec;
    const std::string naa = "600a0b80001234560000abcd0000" + hex4(i);
    switch (i % 6) {
    case 0:
        return DiskSpec::make("EMC", "SYMMETRIX", "5874").inquiryAt(124, {0, 1, 0x87, 0x90, 5})
            .inquiryTextAt(38, hex4(i).substr(1)).inquiryAt(135, {0});
    case 1:
        return DiskSpec::make("HITACHI", "OPEN-V", "6006").inquiryTextAt(36, "50 12345" + hex4(i)).naa(naa);
    case 2:
        return DiskSpec::make("DGC", "RAID 5", "0326").pageAt(0xC0, 49, {14}).pageAt(0xC0, 50, std::vector<uint8_t>(14, 'A')).naa(naa);
    case 3:
        return DiskSpec::make("NETAPP", "LUN", "0.2")
            .t10("NETAPP   LUN P3OoG4W" + hex4(i) + "X")
            .respond({0xC0, 0x00, 0x00, 0x0A, 0x98, 0x0A, 0x22, 0x10, 0x00, 0x00},
                     [] { std::vector<uint8_t> a(64, 0); a[8] = 0x22; a[36] = 'f'; return a; }());
    case 4:
        return DiskSpec::make("LSI", "INF-01-00", "0735").pageAt(0xC8, 90, std::vector<uint8_t>(16, 0x11)).naa(naa);
    default:
        return DiskSpec::make("ACME", "STORAGE ARRAY", "1.0", "AC" + hex4(i)).naa(naa);
    }
}

void BM_EnumerateDeviceMap(benchmark::State &state) {
    const int disks = static_cast<int>(state.range(0));
    std::shared_ptr<rendo_sim::Host> host = rendo_sim::Host::create("BENCH");
    rendo_sim::ScopedHost use(host);
    std::vector<rendo_sim::Lun *> luns;
    for (int i = 0; i < disks; ++i) {
        rendo_sim::ScsiAddress a;
        a.port = static_cast<uint8_t>(i / 256);
        a.target = static_cast<uint8_t>(i % 256);
        luns.push_back(&host->addDisk(familyDisk(i), a));
    }
    CUDIDFactory factory;
    uint64_t enumerated = 0, commands = 0;
    for (auto _ : state) {
        DeviceMap map = factory.enumerateDeviceMap(false, false, false);
        if (map.size() != static_cast<size_t>(disks) || map.begin()->second.udid.empty()) {
            state.SkipWithError("the map does not hold every disk with a UDID");
            return;
        }
        enumerated += map.size();
        state.PauseTiming();
        commands += rendo_bench::takeCommands(luns);
        state.ResumeTiming();
    }
    rendo_bench::setPerDiskCounters(state, enumerated, commands);
}
BENCHMARK(BM_EnumerateDeviceMap)->ArgName("disks")->Arg(16)->Arg(256)->Arg(4096)->Unit(benchmark::kMillisecond);

} // namespace

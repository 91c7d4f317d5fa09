// importDevice on simulated hosts of 16, 256 and 4096 disks.
//   BM_ImportMapped: a UDID already in the provider's map, flags 0x700: time
//     and SCSI commands per import must not grow with the host (only the
//     found disk is read again).
//   BM_ImportAppearing: a LUN that shows after the next bus rescan, flags 0:
//     one enumeration, so commands per disk stay flat (linear in disks).
// The host runs on the virtual clock, so the import's sleeps cost nothing.
#include "device_plugin.h"

#include "pdk/cfistringtool.h"
#include "platform/simhost.h"

#include "bench_counters.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kelm_pdk_4_4;

struct ImportHost {
    explicit ImportHost(int disks) : host(rendo_sim::Host::create("BENCHIMP")), use(host) {
        host->setVirtualClock(true);
        for (int i = 0; i < disks; ++i) {
            rendo_sim::ScsiAddress a;
            a.port = static_cast<uint8_t>(i / 256);
            a.target = static_cast<uint8_t>(i % 256);
            char naa[40];
            std::snprintf(naa, sizeof naa, "6001405a1b2c3d4e5f607182%08x", 0x10000001u + static_cast<unsigned>(i));
            char serial[16];
            std::snprintf(serial, sizeof serial, "BI%06d", i);
            luns.push_back(&host->addDisk(rendo_sim::DiskSpec::make("ACME", "STORAGE ARRAY", "1.0", serial).naa(naa), a));
        }
        plugin = CFiSmartPtr<CDevicePlugin>(new CDevicePlugin);
        plugin->setProviderName(WString(L"rendo"));
        plugin->init();
        plugin->FillDeviceUdidMapping(false, false, false);
    }
    // The UDID of the first disk, as the provider's map holds it.
    WString udidOf(rendo_sim::Lun &lun) {
        auto it = plugin->deviceMap().find(lun.devicePath());
        return CFiStringTool::toWide(it == plugin->deviceMap().end() ? std::string() : it->second.udid);
    }
    std::shared_ptr<rendo_sim::Host> host;
    rendo_sim::ScopedHost use;
    std::vector<rendo_sim::Lun *> luns;
    CFiSmartPtr<CDevicePlugin> plugin;
};

void BM_ImportMapped(benchmark::State &state) {
    ImportHost h(static_cast<int>(state.range(0)));
    const WString udid = h.udidOf(*h.luns[0]);
    rendo_bench::takeCommands(h.luns);
    uint64_t imports = 0;
    for (auto _ : state) {
        std::string device = h.plugin->importDevice(udid, 1, 0x700);
        benchmark::DoNotOptimize(device);
        if (device.empty()) state.SkipWithError("the mapped UDID was not found");
        ++imports;
    }
    state.counters["cmds_per_import"] =
        imports ? static_cast<double>(rendo_bench::takeCommands(h.luns)) / static_cast<double>(imports) : 0.0;
    state.counters["sleeps"] = static_cast<double>(h.host->sleeps().size());
}

void BM_ImportAppearing(benchmark::State &state) {
    const int disks = static_cast<int>(state.range(0));
    ImportHost h(disks);
    rendo_sim::Lun &late = *h.luns[static_cast<size_t>(disks - 1)];
    const WString udid = h.udidOf(late);
    uint64_t commands = 0, imports = 0;
    for (auto _ : state) {
        state.PauseTiming();
        late.appearAfterRescans(1);
        rendo_bench::takeCommands(h.luns);
        state.ResumeTiming();
        std::string device = h.plugin->importDevice(udid, 1, 0);
        benchmark::DoNotOptimize(device);
        if (device.empty()) state.SkipWithError("the appearing LUN was not found");
        commands += rendo_bench::takeCommands(h.luns);
        ++imports;
    }
    rendo_bench::setPerDiskCounters(state, static_cast<uint64_t>(disks) * imports, commands);
}

BENCHMARK(BM_ImportMapped)->Arg(16)->Arg(256)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ImportAppearing)->Arg(16)->Arg(256)->Arg(4096)->Unit(benchmark::kMillisecond);

} // namespace

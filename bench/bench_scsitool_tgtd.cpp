// UpdateDevice per disk on simulated disks backed by a private tgtd on
// loopback: time per disk and SCSI commands per disk, to set beside
// bench_scsitool's figures for the built-in disk model. tgtd lists pages
// 0x80 and 0x83 of the tool's seven.
#include "../tests/realtarget/realtarget_fixture.cpp"

#include "scsitool/scsitool_win32.h"

#include "platform/simhost.h"

#include "bench_counters.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace rendo_realtarget;

constexpr int kDisks = 4;

std::wstring wide(const std::string &s) { return std::wstring(s.begin(), s.end()); }

// One target with kDisks logical units, started once for the run.
const std::vector<std::string> &lunUrls()
{
    static TgtdTarget *tgtd = nullptr;
    static std::vector<std::string> urls;
    if (urls.empty()) {
        std::string error;
        tgtd = new TgtdTarget;
        std::string iqn;
        if (!tgtd->start(&error) || (iqn = tgtd->addTarget("bench-scsitool", &error)).empty()) {
            std::fprintf(stderr, "cannot set up tgtd: %s\n", error.c_str());
            std::exit(1);
        }
        for (uint32_t lun = 1; lun <= kDisks; ++lun) {
            LogicalUnitSpec desc;
            desc.vendor = "BENCH";
            desc.product = "TGTDDISK";
            if (!tgtd->addLogicalUnit(iqn, lun, desc, &error)) {
                std::fprintf(stderr, "cannot add LUN %u: %s\n", lun, error.c_str());
                std::exit(1);
            }
            urls.push_back(tgtd->url(iqn, lun));
        }
        std::atexit([] { delete tgtd; });
    }
    return urls;
}

void BM_UpdateDeviceTgtd(benchmark::State &state)
{
    std::shared_ptr<rendo_sim::Host> host = rendo_sim::Host::create("BENCH");
    rendo_sim::ScopedHost use(host);
    std::vector<rendo_sim::Lun *> luns;
    int index = 0;
    for (const std::string &url : lunUrls())
        luns.push_back(&host->addDisk(
            rendo_sim::DiskSpec::make("BENCH", "TGTDDISK", "0001", "BENCH" + std::to_string(index++)).iscsi(url)));
    CScsiTool tool;

    // The first command of each new session meets a unit attention: keep
    // session setup out of the figures.
    for (rendo_sim::Lun *lun : luns) {
        CScsiDeviceData device(wide(lun->devicePath()), wide(lun->devicePath()), L"BENCH", 0, 0, 0, 0xFFFFFFFFu, L"",
                               L"", L"", 0);
        tool.UpdateDevice(&device);
        lun->disk()->clearCommands();
    }

    uint64_t commands = 0;
    uint64_t updated = 0;
    for (auto _ : state) {
        for (rendo_sim::Lun *lun : luns) {
            CScsiDeviceData device(wide(lun->devicePath()), wide(lun->devicePath()), L"BENCH", 0, 0, 0, 0xFFFFFFFFu,
                                   L"", L"", L"", 0);
            if (tool.UpdateDevice(&device) != 0) {
                state.SkipWithError("UpdateDevice failed");
                return;
            }
            benchmark::DoNotOptimize(device.m_capacity);
        }
        updated += kDisks;
        state.PauseTiming();
        commands += rendo_bench::takeCommands(luns);
        state.ResumeTiming();
    }
    rendo_bench::setPerDiskCounters(state, updated, commands);
}
BENCHMARK(BM_UpdateDeviceTgtd)->Unit(benchmark::kMicrosecond);

} // namespace

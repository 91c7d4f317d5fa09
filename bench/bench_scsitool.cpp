// UpdateDevice per disk on simulated disks: time per disk and SCSI commands
// per disk, for disks listing none, two or all seven of the pages the tool
// reads; and one standard INQUIRY through an open handle as the unit cost.
#include "scsitool/scsitool_win32.h"

#include "platform/simhost.h"

#include "bench_counters.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kDisks = 16;

std::wstring wide(const std::string &s) { return std::wstring(s.begin(), s.end()); }

// A disk listing `pages` of the tool's pages (0x83 and 0x80 first).
rendo_sim::DiskSpec benchDisk(int index, int pages) {
    std::string serial = pages >= 2 ? "BENCH" + std::to_string(index) : "";
    rendo_sim::DiskSpec desc = rendo_sim::DiskSpec::make("BENCH", "DISK", "0001", serial);
    if (pages >= 1) desc.naa("600a0b8000123456000000000000" + std::to_string(1000 + index));
    const uint8_t vendorPages[] = {0xC0, 0xC8, 0x10, 0x11, 0xD0};
    for (int i = 0; i + 2 < pages && i < 5; ++i) desc.page(vendorPages[i], std::vector<uint8_t>(106, 0x5A));
    return desc;
}

void BM_UpdateDevice(benchmark::State &state) {
    const int pages = static_cast<int>(state.range(0));
    std::shared_ptr<rendo_sim::Host> host = rendo_sim::Host::create("BENCH");
    rendo_sim::ScopedHost use(host);
    std::vector<rendo_sim::Lun *> luns;
    for (int i = 0; i < kDisks; ++i) luns.push_back(&host->addDisk(benchDisk(i, pages)));
    CScsiTool tool;

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
BENCHMARK(BM_UpdateDevice)->ArgName("pages")->Arg(0)->Arg(2)->Arg(7)->Unit(benchmark::kMicrosecond);

void BM_OneStandardInquiry(benchmark::State &state) {
    std::shared_ptr<rendo_sim::Host> host = rendo_sim::Host::create("BENCH");
    rendo_sim::ScopedHost use(host);
    rendo_sim::Lun &lun = host->addDisk(benchDisk(0, 2));
    CScsiDeviceData device(wide(lun.devicePath()), wide(lun.devicePath()), L"BENCH", 0, 0, 0, 0xFFFFFFFFu, L"", L"",
                           L"", 0);
    CScsiTool tool;
    CScsiDeviceHandle handle(&device);
    uint8_t cdb[SCSI_INQUIRY_CDB_LENGTH];
    BuildInquiryCdb(cdb, false, 0, 0xFF);
    uint8_t data[SCSI_INQUIRY_BUFFER_SIZE];
    uint8_t sense[SCSI_SENSE_BUFFER_LENGTH];
    uint64_t sent = 0;
    for (auto _ : state) {
        uint32_t length = SCSI_INQUIRY_TRANSFER_LENGTH;
        tool.SendCdbToDevice(handle.getHandle(), cdb, sizeof cdb, data, length, SCSI_DATA_IN, sense);
        benchmark::DoNotOptimize(length);
        if (++sent % 4096 == 0) {
            state.PauseTiming();
            lun.disk()->clearCommands();
            state.ResumeTiming();
        }
    }
    state.counters["time_per_cmd"] =
        benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_OneStandardInquiry)->Unit(benchmark::kMicrosecond);

} // namespace

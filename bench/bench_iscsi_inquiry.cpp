// Round trips through the iSCSI backend against a private tgtd on loopback:
// a standard INQUIRY, a VPD page, and READ CAPACITY, per command. The target
// comes from the real-target test fixture (started once for the run).
#include "realtarget_fixture.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using namespace rendo_realtarget;

std::shared_ptr<rendo_sim::DiskBackend> disk()
{
    static TgtdTarget *tgtd = nullptr;
    static std::shared_ptr<rendo_sim::DiskBackend> backend;
    if (!backend) {
        std::string error;
        tgtd = new TgtdTarget;
        std::string iqn;
        if (!tgtd->start(&error) || (iqn = tgtd->addTarget("bench", &error)).empty() ||
            !tgtd->addLogicalUnit(iqn, 1, LogicalUnitSpec{}, &error) ||
            !(backend = rendo_sim::openIscsiBackend(tgtd->url(iqn, 1), hostA(), &error))) {
            std::fprintf(stderr, "cannot set up tgtd: %s\n", error.c_str());
            std::exit(1);
        }
        std::atexit([] { delete tgtd; });
    }
    return backend;
}

void run(benchmark::State &state, std::vector<uint8_t> cdb, size_t length)
{
    auto backend = disk();
    std::vector<uint8_t> data;
    for (auto _ : state) {
        data.assign(length, 0);
        rendo_sim::ScsiResult r = runCdb(*backend, cdb, rendo_sim::DataDirection::In, data);
        if (r.transportError || r.status != 0) {
            state.SkipWithError(r.transportMessage.empty() ? "command failed" : r.transportMessage.c_str());
            break;
        }
        benchmark::DoNotOptimize(data.data());
    }
}

void BM_IscsiStandardInquiry(benchmark::State &state) { run(state, {0x12, 0, 0, 0, 96, 0}, 96); }
void BM_IscsiVpd83(benchmark::State &state) { run(state, {0x12, 1, 0x83, 0, 255, 0}, 255); }
void BM_IscsiReadCapacity(benchmark::State &state) { run(state, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8); }

BENCHMARK(BM_IscsiStandardInquiry)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IscsiVpd83)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IscsiReadCapacity)->Unit(benchmark::kMicrosecond);

} // namespace

// Host descriptions of 1,024, 4,096 and 16,384 LUN paths (half as many disks,
// each seen through two adapters, as a multipath host sees its array):
//   BM_ParseHostDescription: parsing the text into a host;
//   BM_DiscoverHost: the provider's discovery over that host (the DOS device
//     list, every path's inquiry data, a UDID per path), as "kelm-host disks"
//     and the device map run it; with rescan:1 after re-enumerating every
//     SCSI adapter first, as an import does.
// Both should be linear in the paths: time_per_path flat across the sizes.
// heap_bytes is the heap a run holds at its peak beyond what it started
// with (for the parse: the host it builds), counted by the operator new
// below, so it does not depend on what earlier runs left in the process.
#include "udid/device_udid_factory.h"

#include "platform/simhost.h"

#include "bench_counters.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};

void *counted(size_t size) {
    void *p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    int64_t now = g_live += static_cast<int64_t>(malloc_usable_size(p));
    int64_t peak = g_peak.load(std::memory_order_relaxed);
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void uncounted(void *p) {
    if (p == nullptr) return;
    g_live -= static_cast<int64_t>(malloc_usable_size(p));
    std::free(p);
}

// Starts a measurement: the peak from here on, relative to the live heap now.
int64_t startCounting() {
    int64_t live = g_live.load();
    g_peak.store(live);
    return live;
}

} // namespace

void *operator new(size_t size) { return counted(size); }
void *operator new[](size_t size) { return counted(size); }
void operator delete(void *p) noexcept { uncounted(p); }
void operator delete[](void *p) noexcept { uncounted(p); }
void operator delete(void *p, size_t) noexcept { uncounted(p); }
void operator delete[](void *p, size_t) noexcept { uncounted(p); }

namespace {

// paths / 2 disks, each on adapter 0 and adapter 1 at the same bus, target
// and LUN, with a distinct serial and NAA identifier.
std::string describeHost(int paths) {
    std::string text = "computer-name scalehost\nip-address 192.0.2.20\nadapter 0\nadapter 1\n";
    char buf[256];
    for (int i = 0; i < paths / 2; ++i) {
        unsigned bus = static_cast<unsigned>(i) >> 16, target = (static_cast<unsigned>(i) >> 8) & 0xFF,
                 lun = static_cast<unsigned>(i) & 0xFF;
        std::snprintf(buf, sizeof buf,
                      "disk d%d\n  vendor ACME\n  product \"STORAGE ARRAY\"\n  revision 1.0\n  serial SC%08d\n"
                      "  naa 6001405a1b2c3d4e5f6071%010x\n  address 0 %u %u %u\n  path 1 %u %u %u\n",
                      i, i, static_cast<unsigned>(i), bus, target, lun, bus, target, lun);
        text += buf;
    }
    return text;
}

void setPathCounters(benchmark::State &state, uint64_t runs, int64_t heapBytes) {
    const double paths = static_cast<double>(state.range(0));
    state.counters["time_per_path"] = benchmark::Counter(static_cast<double>(runs) * paths,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["heap_bytes"] = static_cast<double>(heapBytes);
    state.counters["heap_per_path"] = static_cast<double>(heapBytes) / paths;
}

void BM_ParseHostDescription(benchmark::State &state) {
    const std::string text = describeHost(static_cast<int>(state.range(0)));
    uint64_t runs = 0;
    int64_t heap = 0;
    for (auto _ : state) {
        int64_t base = startCounting();
        std::string error;
        std::shared_ptr<rendo_sim::Host> host = rendo_sim::parseHostDescription(text, &error);
        if (!host || host->luns().size() != static_cast<size_t>(state.range(0))) {
            state.SkipWithError(("the description did not give every path: " + error).c_str());
            return;
        }
        heap = g_live.load() - base;  // the host, as it stays
        state.PauseTiming();
        host.reset();  // not part of the parse
        state.ResumeTiming();
        ++runs;
    }
    state.counters["text_bytes"] = static_cast<double>(text.size());
    setPathCounters(state, runs, heap);
}

void BM_DiscoverHost(benchmark::State &state) {
    const size_t paths = static_cast<size_t>(state.range(0));
    std::string error;
    std::shared_ptr<rendo_sim::Host> host =
        rendo_sim::parseHostDescription(describeHost(static_cast<int>(paths)), &error);
    if (!host) {
        state.SkipWithError(error.c_str());
        return;
    }
    rendo_sim::ScopedHost use(host);
    std::vector<rendo_sim::Lun *> luns = host->luns();
    CUDIDFactory factory;
    uint64_t runs = 0, commands = 0;
    int64_t heap = 0;
    for (auto _ : state) {
        int64_t base = startCounting();
        {
            DeviceMap map = factory.enumerateDeviceMap(state.range(1) != 0, false, false);
            if (map.size() != paths || map.begin()->second.udid.empty()) {
                state.SkipWithError("the map does not hold every path with a UDID");
                return;
            }
        }
        state.PauseTiming();
        heap = g_peak.load() - base;
        commands += rendo_bench::takeCommands(luns);
        state.ResumeTiming();
        ++runs;
    }
    setPathCounters(state, runs, heap);
    state.counters["cmds_per_path"] = runs ? static_cast<double>(commands) / static_cast<double>(runs * paths) : 0.0;
}

BENCHMARK(BM_ParseHostDescription)->ArgName("paths")->Arg(1024)->Arg(4096)->Arg(16384)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiscoverHost)
    ->ArgNames({"paths", "rescan"})
    ->ArgsProduct({{1024, 4096, 16384}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

} // namespace

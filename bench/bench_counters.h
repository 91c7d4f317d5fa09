// Per-disk counters the disk benchmarks share: the SCSI commands the
// simulated disks recorded, and time and commands per disk.
#ifndef BENCH_BENCH_COUNTERS_H
#define BENCH_BENCH_COUNTERS_H

#include "platform/simhost.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace rendo_bench {

// Commands the disks received since the last call; clears their records.
inline uint64_t takeCommands(const std::vector<rendo_sim::Lun *> &luns) {
    uint64_t commands = 0;
    for (rendo_sim::Lun *lun : luns) {
        commands += lun->disk()->commands().size();
        lun->disk()->clearCommands();
    }
    return commands;
}

inline void setPerDiskCounters(benchmark::State &state, uint64_t disks, uint64_t commands) {
    state.counters["time_per_disk"] =
        benchmark::Counter(static_cast<double>(disks), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["cmds_per_disk"] = disks ? static_cast<double>(commands) / disks : 0.0;
}

} // namespace rendo_bench

#endif // BENCH_BENCH_COUNTERS_H

// UpdateDevice per disk on simulated disks backed by a private tgtd on
// loopback, set beside the floor it cannot beat: the same SCSI commands
// (recorded from UpdateDevice itself) issued by a bare libiscsi loop on one
// session. Between the two, the same commands through the platform's
// backend and through CreateFileW / DeviceIoControl / CloseHandle show
// which layer adds what. Every benchmark's time is per disk, and the run
// ends with each one's ratio to the bare loop (medians when repeated).
// tgtd lists pages 0x80 and 0x83 of the tool's seven: four commands a disk.
#include "realtarget_fixture.h"

#include "scsitool/scsitool_win32.h"

#include "platform/simhost.h"

#include "bench_counters.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>
}

namespace {

using namespace rendo_realtarget;

constexpr int kDisks = 4;

std::wstring wide(const std::string &s) { return std::wstring(s.begin(), s.end()); }

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "%s\n", what.c_str());
    std::exit(1);
}

// One target with kDisks logical units, started once for the run.
struct Target {
    TgtdTarget tgtd;
    std::string iqn;
    std::vector<std::string> urls;
};

Target &target()
{
    static Target *t = nullptr;
    if (!t) {
        t = new Target;
        std::string error;
        if (!t->tgtd.start(&error) || (t->iqn = t->tgtd.addTarget("bench-scsitool", &error)).empty())
            die("cannot set up tgtd: " + error);
        for (uint32_t lun = 1; lun <= kDisks; ++lun) {
            LogicalUnitSpec desc;
            desc.vendor = "BENCH";
            desc.product = "TGTDDISK";
            if (!t->tgtd.addLogicalUnit(t->iqn, lun, desc, &error))
                die("cannot add LUN " + std::to_string(lun) + ": " + error);
            t->urls.push_back(t->tgtd.url(t->iqn, lun));
        }
        std::atexit([] { delete t; });
    }
    return *t;
}

CScsiDeviceData deviceRecord(rendo_sim::Lun *lun)
{
    return CScsiDeviceData(wide(lun->devicePath()), wide(lun->devicePath()), L"BENCH", 0, 0, 0, 0xFFFFFFFFu, L"",
                           L"", L"", 0);
}

// A simulated host with the target's units as its disks, each updated once:
// the first command of a new session meets a unit attention, which stays out
// of the figures.
struct Disks {
    std::shared_ptr<rendo_sim::Host> host = rendo_sim::Host::create("BENCH");
    std::vector<rendo_sim::Lun *> luns;
    CScsiTool tool;

    Disks()
    {
        rendo_sim::ScopedHost use(host);
        int index = 0;
        for (const std::string &url : target().urls)
            luns.push_back(&host->addDisk(
                rendo_sim::DiskSpec::make("BENCH", "TGTDDISK", "0001", "BENCH" + std::to_string(index++))
                    .iscsi(url)));
        for (rendo_sim::Lun *lun : luns) {
            CScsiDeviceData device = deviceRecord(lun);
            tool.UpdateDevice(&device);
            lun->disk()->clearCommands();
        }
    }
};

// The commands UpdateDevice sends to one disk, as the disk recorded them.
const std::vector<rendo_sim::CommandRecord> &updateCommands()
{
    static std::vector<rendo_sim::CommandRecord> commands;
    if (commands.empty()) {
        Disks disks;
        rendo_sim::ScopedHost use(disks.host);
        CScsiDeviceData device = deviceRecord(disks.luns[0]);
        if (disks.tool.UpdateDevice(&device) != 0)
            die("UpdateDevice failed");
        commands = disks.luns[0]->disk()->commands();
        if (commands.empty())
            die("UpdateDevice sent no command");
    }
    return commands;
}

// Per-disk time and commands, one iteration being one disk.
void finish(benchmark::State &state, uint64_t commands)
{
    rendo_bench::setPerDiskCounters(state, state.iterations(), commands);
}

// The floor: the same commands on one libiscsi session, synchronous calls,
// nothing between them but the library.
class BareSession {
public:
    explicit BareSession(const std::string &initiator)
        : ctx_(iscsi_create_context(initiator.c_str()))
    {
        if (!ctx_ || iscsi_set_targetname(ctx_, target().iqn.c_str()) != 0 ||
            iscsi_set_session_type(ctx_, ISCSI_SESSION_NORMAL) != 0 ||
            iscsi_set_header_digest(ctx_, ISCSI_HEADER_DIGEST_NONE) != 0 ||
            iscsi_full_connect_sync(ctx_, target().tgtd.portal().c_str(), 1) != 0)
            die(std::string("bare libiscsi session: ") + (ctx_ ? iscsi_get_error(ctx_) : "no context"));
        // Take the new nexus's unit attention before timing.
        for (int i = 0; i < 4; ++i) {
            struct scsi_task *task = iscsi_testunitready_sync(ctx_, 1);
            bool good = task && task->status == SCSI_STATUS_GOOD;
            if (task)
                scsi_free_scsi_task(task);
            if (good)
                break;
        }
    }
    ~BareSession()
    {
        iscsi_logout_sync(ctx_);
        iscsi_destroy_context(ctx_);
    }
    BareSession(const BareSession &) = delete;
    BareSession &operator=(const BareSession &) = delete;

    bool send(const std::vector<rendo_sim::CommandRecord> &commands)
    {
        for (const rendo_sim::CommandRecord &c : commands) {
            std::vector<uint8_t> cdb = c.cdb;
            int direction = c.direction == rendo_sim::DataDirection::In ? SCSI_XFER_READ : SCSI_XFER_NONE;
            struct scsi_task *task = scsi_create_task(static_cast<int>(cdb.size()), cdb.data(), direction,
                                                      static_cast<int>(c.dataLength));
            bool good = task && iscsi_scsi_command_sync(ctx_, 1, task, nullptr) && task->status == SCSI_STATUS_GOOD;
            if (good)
                benchmark::DoNotOptimize(task->datain.data);
            if (task)
                scsi_free_scsi_task(task);
            if (!good)
                return false;
        }
        return true;
    }

private:
    struct iscsi_context *ctx_;
};

void BM_BareLibiscsiTgtd(benchmark::State &state)
{
    const auto &commands = updateCommands();
    BareSession bare("iqn.2026-12.org.rendo:bench-bare");
    for (auto _ : state) {
        if (!bare.send(commands)) {
            state.SkipWithError("bare libiscsi command failed");
            break;
        }
    }
    finish(state, state.iterations() * commands.size());
}

// The same commands through the platform's iSCSI backend (its session
// registry, locking, sense handling), on one session.
void BM_BackendTgtd(benchmark::State &state)
{
    const auto &commands = updateCommands();
    std::string error;
    auto backend = rendo_sim::openIscsiBackend(target().urls[0], identity("bench-backend", 0x0c), &error);
    if (!backend)
        die("backend: " + error);
    std::vector<uint8_t> data;
    std::vector<uint8_t> tur = {0, 0, 0, 0, 0, 0};
    runCdb(*backend, tur, rendo_sim::DataDirection::None, data);
    uint64_t sent = 0;
    for (auto _ : state) {
        for (const rendo_sim::CommandRecord &c : commands) {
            data.assign(c.dataLength, 0);
            rendo_sim::ScsiResult r = runCdb(*backend, c.cdb, c.direction, data);
            if (r.transportError || r.status != 0) {
                state.SkipWithError("backend command failed");
                break;
            }
            ++sent;
        }
    }
    finish(state, sent);
}

// The same commands as the provider's Win32 layer sends them: open the
// disk, one buffered pass-through per command, close.
void BM_PassThroughTgtd(benchmark::State &state)
{
    const auto &commands = updateCommands();
    Disks disks;
    rendo_sim::ScopedHost use(disks.host);
    std::vector<std::wstring> paths;
    for (rendo_sim::Lun *lun : disks.luns)
        paths.push_back(wide(lun->devicePath()));
    std::vector<uint8_t> request(SCSI_PT_REQUEST_SLACK + 256);
    size_t next = 0;
    for (auto _ : state) {
        const std::wstring &path = paths[next++ % paths.size()];
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            state.SkipWithError("CreateFileW failed");
            break;
        }
        bool ok = true;
        for (const rendo_sim::CommandRecord &c : commands) {
            std::fill(request.begin(), request.end(), 0);
            SCSI_PASS_THROUGH spt{};
            spt.Length = sizeof spt;
            spt.CdbLength = static_cast<UCHAR>(c.cdb.size());
            spt.SenseInfoLength = SCSI_SENSE_BUFFER_LENGTH;
            spt.DataIn = SCSI_IOCTL_DATA_IN;
            spt.DataTransferLength = static_cast<ULONG>(c.dataLength);
            spt.TimeOutValue = SCSI_PT_TIMEOUT_SECONDS;
            spt.DataBufferOffset = SCSI_PT_DATA_OFFSET;
            spt.SenseInfoOffset = SCSI_PT_SENSE_OFFSET;
            std::copy(c.cdb.begin(), c.cdb.end(), spt.Cdb);
            std::memcpy(request.data(), &spt, sizeof spt);
            DWORD size = static_cast<DWORD>(SCSI_PT_DATA_OFFSET + c.dataLength);
            DWORD returned = 0;
            ok = ok && DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH, request.data(), size, request.data(), size,
                                       &returned, nullptr) &&
                 reinterpret_cast<SCSI_PASS_THROUGH *>(request.data())->ScsiStatus == 0;
        }
        CloseHandle(h);
        if (!ok) {
            state.SkipWithError("pass-through failed");
            break;
        }
        if (next % paths.size() == 0) {
            state.PauseTiming();
            rendo_bench::takeCommands(disks.luns);
            state.ResumeTiming();
        }
    }
    finish(state, state.iterations() * commands.size());
}

void BM_UpdateDeviceTgtd(benchmark::State &state)
{
    Disks disks;
    rendo_sim::ScopedHost use(disks.host);
    uint64_t commands = 0;
    size_t next = 0;
    for (auto _ : state) {
        CScsiDeviceData device = deviceRecord(disks.luns[next++ % disks.luns.size()]);
        if (disks.tool.UpdateDevice(&device) != 0) {
            state.SkipWithError("UpdateDevice failed");
            break;
        }
        benchmark::DoNotOptimize(device.m_capacity);
        if (next % disks.luns.size() == 0) {
            state.PauseTiming();
            commands += rendo_bench::takeCommands(disks.luns);
            state.ResumeTiming();
        }
    }
    finish(state, commands + rendo_bench::takeCommands(disks.luns));
}

// On a busy machine the load drifts between one benchmark and the next. Here
// each iteration updates one disk and sends the same commands on the bare
// session, back to back, so both meet the same load; the counters are the
// medians of each, and their ratio.
void BM_UpdateDeviceAgainstBareTgtd(benchmark::State &state)
{
    using Clock = std::chrono::steady_clock;
    const auto &commands = updateCommands();
    BareSession bare("iqn.2026-12.org.rendo:bench-paired");
    Disks disks;
    rendo_sim::ScopedHost use(disks.host);
    std::vector<double> bareUs, updateUs;
    size_t next = 0;
    for (auto _ : state) {
        CScsiDeviceData device = deviceRecord(disks.luns[next++ % disks.luns.size()]);
        auto t0 = Clock::now();
        bool ok = bare.send(commands);
        auto t1 = Clock::now();
        ok = ok && disks.tool.UpdateDevice(&device) == 0;
        auto t2 = Clock::now();
        if (!ok) {
            state.SkipWithError("command failed");
            break;
        }
        bareUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        updateUs.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
        if (next % disks.luns.size() == 0) {
            state.PauseTiming();
            rendo_bench::takeCommands(disks.luns);
            state.ResumeTiming();
        }
    }
    auto median = [](std::vector<double> v) {
        if (v.empty())
            return 0.0;
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    double b = median(bareUs), u = median(updateUs);
    state.counters["bare_us"] = b;
    state.counters["update_us"] = u;
    state.counters["ratio"] = b > 0 ? u / b : 0.0;
}

BENCHMARK(BM_BareLibiscsiTgtd)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BackendTgtd)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PassThroughTgtd)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_UpdateDeviceTgtd)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_UpdateDeviceAgainstBareTgtd)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Prints as the console does and keeps each benchmark's wall time per disk
// (the median when repeated) for the closing ratios, and the paired
// benchmark's own medians.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred)
                continue;
            std::string name = run.run_name.function_name;
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Iteration ? !medians_.count(name) : median) {
                if (name == kPaired)
                    paired_ = run.counters;
                else
                    perDisk_[name] = run.GetAdjustedRealTime();
                if (median)
                    medians_[name] = true;
            }
        }
    }
    void printRatios() const
    {
        auto floor = perDisk_.find("BM_BareLibiscsiTgtd");
        if (floor != perDisk_.end() && floor->second > 0) {
            std::printf("\nwall time per disk against the bare libiscsi loop (%.1f us for the same commands):\n",
                        floor->second);
            for (const auto &entry : perDisk_)
                std::printf("  %-22s %8.1f us  %.2fx\n", entry.first.c_str(), entry.second,
                            entry.second / floor->second);
        }
        if (paired_.count("ratio"))
            std::printf("paired, one disk each way per iteration (medians): UpdateDevice %.1f us, bare loop %.1f us, "
                        "%.2fx\n",
                        paired_.at("update_us").value, paired_.at("bare_us").value, paired_.at("ratio").value);
    }

private:
    static constexpr const char *kPaired = "BM_UpdateDeviceAgainstBareTgtd";
    std::map<std::string, double> perDisk_;
    benchmark::UserCounters paired_;
    std::map<std::string, bool> medians_;
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}

#include "pdk/cfitracelog.h"
#include "tracelog_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <set>
#include <thread>

using namespace kelm_pdk_4_4;
using namespace tracecfg_test;

using TraceLogConcurrency = TraceLogTest;

// Threads trace while another rewrites the level (re-read at every call) and
// the clock jumps back and forth over midnight: every line lands whole in
// one of the two day files and is forwarded exactly once.
TEST_F(TraceLogConcurrency, LinesStayWholeWhileLevelAndDateChange) {
    writeConfig(3, false, true);
    CFiTraceLogPtr log = startedLog();
    const time_t before = localTime("2024-03-09 23:59:59");
    const time_t after = localTime("2024-03-10 00:00:01");
    log->setNowForTesting(before);

    const int kThreads = 4;
    const int kLines = 150;
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (unsigned i = 0; !done; ++i) {
            // Levels 3 and 5 both let the level-3 lines through.
            writeConfig(i % 2 == 0 ? 5 : 3, false, true);
            log->setNowForTesting(i % 2 == 0 ? after : before);
            int level = 0;
            log->GetTraceLevels(level);
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) log->trace(3, "writer %d line %d %s", t, i, std::string(200, 'p').c_str());
        });
    for (std::thread &w : writers) w.join();
    done = true;
    changer.join();

    std::regex whole("\\d\\d:\\d\\d:\\d\\d\\.\\d{6} <Pid - \\d+ / Thread id - \\d+> writer (\\d) line (\\d+) p{200}");
    std::set<std::pair<int, int>> seen;
    for (const char *date : {"030924", "031024"}) {
        for (const std::string &line : fileLines(root + "Logs/rendo.log." + date)) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
            EXPECT_TRUE(seen.insert({std::stoi(m[1]), std::stoi(m[2])}).second) << line;
        }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
    EXPECT_EQ(handler.taken().size(), static_cast<size_t>(kThreads * kLines));
}

// The LUN number cache on real record files under a private install root.
#include "../scsitool/trace_capture.h"
#include "pdk/cficonfiguration.h"
#include "pdk/cfipblmops.h"
#include "pdk/cfistringtool.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <csignal>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kelm_pdk_4_4;
using scsitool_test::severityOf;

namespace {

std::string udid(const std::string &enclosure, const std::string &lun) {
    return "UDID##VEND##PROD##" + enclosure + "##" + lun;
}

// The record paths of a UDID in the LUN and the device cache.
std::string lunKey(const std::string &id, bool device = false) {
    WString path;
    (device ? CFiConfigurationPathTool::getDevKey : CFiConfigurationPathTool::getLunKey)(id, path);
    return CFiStringTool::toNarrow(path);
}
std::string devKey(const std::string &id) { return lunKey(id, true); }

class LunCache : public ::testing::Test {
protected:
    void SetUp() override { cache.setTraceLog(capture.log()); }
    // A record written behind the cache's back (another process, an older run).
    std::string record(const std::string &enclosure, const std::string &lun, const std::string &value) {
        std::string path = lunKey(udid(enclosure, lun));
        rendo_test::writeFile(path, value);
        return path;
    }
    // The free numbers `from` (the fixture's cache by default) suggests.
    std::vector<std::string> suggest(const char *enclosure, CFiPblmOps *from = nullptr) {
        std::vector<std::string> values;
        EXPECT_TRUE((from ? *from : cache).getNewValue(enclosure, values));
        return values;
    }
    bool offers(const char *enclosure, const char *number) {
        auto v = suggest(enclosure);
        return std::count(v.begin(), v.end(), number) == 1;
    }
    std::string first(const char *enclosure, CFiPblmOps *from = nullptr) {
        auto v = suggest(enclosure, from);
        return v.empty() ? "none" : v.front();
    }

    scsitool_test::TraceCapture capture;  // first: it makes the install root
    CFiPblmOps cache;
};

} // namespace

TEST_F(LunCache, FreeNumbersFromTheRecordsOnDisk) {
    record("ENC", "00", "0");
    record("ENC", "01", "1");
    // A writer's hidden sibling is no record.
    std::string folder = record("ENC", "03", "3");
    rendo_test::writeFile(folder.substr(0, folder.rfind('/') + 1) + ".pblm-x.XXXXXX", "2");
    auto values = suggest("ENC");
    ASSERT_EQ(values.size(), 252u);
    EXPECT_EQ(std::vector<std::string>(values.begin(), values.begin() + 3), (std::vector<std::string>{"2", "4", "5"}));
    EXPECT_EQ(values.back(), "254");
    std::vector<int> numbers;
    EXPECT_TRUE(cache.getNewValue("enc", numbers)); // enclosure ids ignore case here
    EXPECT_EQ(numbers.size() == 252u ? numbers[0] : -1, 2);
    EXPECT_EQ(suggest("ENC"), values); // suggesting takes nothing
}

TEST_F(LunCache, RecordValuesThatMarkTheMap) {
    struct Case { const char *value, *firstFree; } cases[] = {
        {"5", "0"}, {"0", "1"}, {"255", "0"}, {"-1", "0"}, {"abc", "1"}, {"99999999999999999999", "0"}, {" 0\n", "1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        record("E1", "0", c.value);
        CFiPblmOps fresh;  // reads the map afresh
        EXPECT_EQ(first("E1", &fresh), c.firstFree);
    }
}

TEST_F(LunCache, ReadingRecords) {
    std::vector<std::string> values{"kept"};
    EXPECT_EQ(cache.getKeyValue(lunKey(udid("R", "1")).c_str(), values), 0);   // none yet
    EXPECT_EQ(values, std::vector<std::string>{"kept"});
    EXPECT_EQ(cache.getKeyValue(static_cast<const char *>(nullptr), values), 3);

    EXPECT_EQ(cache.getKeyValue(record("R", "2", "").c_str(), values), 26);
    std::string folder = lunKey(udid("R", "3"));
    ::mkdir(folder.c_str(), 0755);   // opens, but cannot be read
    EXPECT_EQ(cache.getKeyValue(folder.c_str(), values), 26);

    struct Case { std::string stored, text; int number; } cases[] = {
        {"42", "42", 42}, {"42\nrest", "42\n", 42}, {"300", "300", -1}, {"255", "255", 255},
        {"-4", "-4", -1}, {"x", "x", 0}, {std::string(5000, 'z'), std::string(1023, 'z'), 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored.substr(0, 10)); // at most 1023 characters of a long record
        std::string key = record("R", "9", c.stored);
        std::vector<std::string> got;
        EXPECT_EQ(cache.getKeyValue(key.c_str(), got), 0);
        EXPECT_EQ(got, std::vector<std::string>{c.text});
        int n = 7;
        EXPECT_EQ(cache.getKeyValue(key.c_str(), n), 0);
        EXPECT_EQ(n, c.number);
    }
    int n = 0;
    EXPECT_EQ(cache.getKeyValue(lunKey(udid("R", "none")).c_str(), n), 0);
    EXPECT_EQ(n, -1);
}

TEST_F(LunCache, StoringRecords) {
    std::string key = lunKey(udid("S", "1"));
    // Without an enclosure the value is stored all the same.
    EXPECT_EQ(cache.setKeyValue(key.c_str(), {"17", "ignored"}, nullptr), 3);
    EXPECT_EQ(rendo_test::readFile(key), "17");
    EXPECT_EQ(severityOf(capture.take(),
                         "CFiPblmOps::setKeyValue : No entry to be set in the bit Map because enclosureId is passed "
                         "as NULL.\n"),
              scsitool_test::kLevel2);
    EXPECT_EQ(cache.setKeyValue(nullptr, {"1"}, "S"), 3);
    EXPECT_EQ(cache.setKeyValue(key.c_str(), {}, "S"), 3);
    EXPECT_EQ(rendo_test::readFile(key), "17");
    EXPECT_EQ(cache.setKeyValue((key + "-missing-dir/x").c_str(), {"1"}, "S"), 26);

    // With one, the number is taken in the map at once.
    EXPECT_EQ(cache.setKeyValue(lunKey(udid("S", "2")).c_str(), {"0"}, "S"), 0);
    EXPECT_EQ(first("S"), "1");
    EXPECT_EQ(cache.setKeyValue(lunKey(udid("S", "3")).c_str(), {"1"}, "s"), 0);
    EXPECT_EQ(first("S"), "2");
    // Replacing a record leaves no sibling behind.
    EXPECT_EQ(cache.setKeyValue(key.c_str(), {"18"}, "S"), 0);
    EXPECT_EQ(rendo_test::readFile(key), "18");
    auto files = std::filesystem::directory_iterator(key.substr(0, key.rfind('/')));
    EXPECT_EQ(std::count_if(begin(files), end(files), [](const auto &e) { return e.is_regular_file(); }), 3);
}

TEST_F(LunCache, NumberRange) {
    EXPECT_EQ(cache.setLunNumRange(0, 1000), 0);
    EXPECT_EQ(severityOf(capture.take(), "CFiPblmOps::setLunNumRange: bounding to higher limit of [254]."),
              scsitool_test::kLevel6);
    EXPECT_EQ(suggest("N").size(), 255u);

    CFiPblmOps narrow;
    narrow.setLunNumRange(5, 8);
    record("N2", "a", "6");
    record("N2", "b", "2");   // below the range: stored, never marked
    EXPECT_EQ(suggest("N2", &narrow), (std::vector<std::string>{"5", "7", "8"}));
    EXPECT_EQ(narrow.rmLunCacheRecord("N2", 9), 3);
    EXPECT_EQ(narrow.rmLunCacheRecord("N2", 4), 3);

    // A minimum past the map hands nothing out (and marks nothing past it).
    CFiPblmOps none;
    none.setLunNumRange(1000, 2000);
    EXPECT_TRUE(suggest("N3", &none).empty());
}

TEST_F(LunCache, RemovingRecords) {
    // A device-cache record (no "/luns/" in its path) is just deleted.
    std::string dev = devKey(udid("D", "1"));
    rendo_test::writeFile(dev, "3");
    record("D", "5", "3");
    EXPECT_EQ(first("D"), "0");
    EXPECT_EQ(cache.rmCacheRecord(dev.c_str()), 0);
    EXPECT_FALSE(rendo_test::fileExists(dev));
    EXPECT_EQ(cache.rmCacheRecord(dev.c_str()), 0);   // nothing left to remove
    EXPECT_EQ(cache.rmCacheRecord(nullptr), 3);

    // A LUN record gives its number back.
    std::string zero = record("D", "6", "0");
    EXPECT_EQ(cache.setKeyValue(zero.c_str(), {"0"}, "D"), 0);
    EXPECT_EQ(first("D"), "1");
    EXPECT_EQ(cache.rmCacheRecord(zero.c_str()), 0);
    EXPECT_EQ(first("D"), "0");

    // Each enclosure's map is read from its own records, and a removal
    // touches only the map of the record's folder: ENC1 is no part of ENC10.
    record("ENC1", "1", "0");
    std::string ten = record("ENC10", "1", "0");
    EXPECT_EQ(first("ENC1") + first("ENC10"), "11");
    EXPECT_EQ(cache.rmCacheRecord(ten.c_str()), 0);
    EXPECT_EQ(first("ENC1") + first("ENC10"), "10");
}

TEST_F(LunCache, RemovingALunNumberOfAnEnclosure) {
    std::string a = record("L", "0A", "3");
    std::string b = record("L", "0B", "3");
    std::string c = record("L", "0C", "4");
    std::string devA = devKey(udid("L", "0A"));
    rendo_test::writeFile(devA, "\\\\.\\PHYSICALDRIVE3");
    EXPECT_EQ(first("L"), "0");
    EXPECT_FALSE(offers("L", "3"));
    EXPECT_EQ(cache.rmLunCacheRecord("L", 3), 0);
    std::vector<bool> exist;
    for (const std::string *f : {&a, &b, &devA, &c}) exist.push_back(rendo_test::fileExists(*f));
    EXPECT_EQ(exist, (std::vector<bool>{false, false, false, true}));
    EXPECT_TRUE(offers("L", "3"));
    EXPECT_FALSE(offers("L", "4"));

    EXPECT_EQ(cache.rmLunCacheRecord(nullptr, 3), 3);
    EXPECT_EQ(cache.rmLunCacheRecord("L", 255), 3);
    EXPECT_EQ(cache.rmLunCacheRecord("NEVER-SEEN", 3), 0);   // no folder: nothing to remove
    // A file where the enclosure's folder should be cannot be scanned.
    rendo_test::writeFile(a.substr(0, a.rfind("/L/") + 1) + "BLOCKED", "x");
    EXPECT_EQ(cache.rmLunCacheRecord("BLOCKED", 3), 1);
}

TEST_F(LunCache, StoringALunNumberDropsTheDeviceRecord) {
    std::string id = udid("W", "0F");
    std::string dev = devKey(id);
    rendo_test::writeFile(dev, "stale");
    EXPECT_EQ(cache.setKeyValue(lunKey(id), CFiStringTool::toWide(id), "W", 12), 0);
    EXPECT_EQ(rendo_test::readFile(lunKey(id)), "12");
    EXPECT_FALSE(rendo_test::fileExists(dev));
    EXPECT_FALSE(offers("W", "12"));
    EXPECT_EQ(cache.setKeyValue(lunKey(id), WString(L"not an identifier"), "W", 13), 3);
}

// Readers and writers of one key, each with its own cache object (as two
// processes would have): every read sees one whole value.
TEST_F(LunCache, OneKeyManyWritersConcurrency) {
    std::string key = lunKey(udid("C", "1"));
    const std::string values[2] = {std::string(900, 'a'), std::string(900, 'b')};
    CFiPblmOps seed;
    ASSERT_EQ(seed.setKeyValue(key.c_str(), {values[0]}, "C"), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w)
        writers.emplace_back([&, w] {
            CFiPblmOps mine;
            for (int i = 0; i < 150; ++i)
                if (mine.setKeyValue(key.c_str(), {values[w]}, "C") != 0) ++torn;
        });
    std::thread reader([&] {
        CFiPblmOps mine;
        while (!stop.load()) {
            std::vector<std::string> got;
            if (mine.getKeyValue(key.c_str(), got) != 0 || got.size() != 1 ||
                (got[0] != values[0] && got[0] != values[1]))
                ++torn;
        }
    });
    for (auto &t : writers) t.join();
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    std::string last = rendo_test::readFile(key);
    EXPECT_TRUE(last == values[0] || last == values[1]);
}

// A writer killed at any moment leaves the old value or the new one.
TEST_F(LunCache, KilledWriterLeavesAWholeValue) {
    std::string key = lunKey(udid("K", "1"));
    const std::string oldValue(1000, 'o'), newValue(1000, 'n');
    for (int round = 0; round < 20; ++round) {
        rendo_test::writeFile(key, oldValue);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CFiPblmOps writer;
            for (;;) writer.setKeyValue(key.c_str(), {newValue}, nullptr);
        }
        ::usleep(static_cast<useconds_t>(200 + round * 150));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        std::string now = rendo_test::readFile(key);
        EXPECT_TRUE(now == oldValue || now == newValue) << "round " << round << ": " << now.size() << " bytes";
    }
}

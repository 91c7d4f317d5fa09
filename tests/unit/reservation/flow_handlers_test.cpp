// The flows' handling of what commands throw or report, through a command
// object whose outcomes the test scripts (ReservationDiskWin cannot throw
// the kit's exceptions or return non-zero). Also the reservation log
// manager the flows take their trace log from.
#include "pgr_test_support.h"

#include "pgr/pgrexception.h"

#include "pdk/cfiexecpipe.h"
#include "pdk/cfiudid.h"

#include <functional>
#include <stdexcept>
#include <thread>

namespace {

using namespace pgr_test;
const std::string kPath = "\\\\.\\PHYSICALDRIVE7";
const std::string kKey = "c0a80001";

struct Script {
    std::vector<SReservationRecord> records;
    std::string throwAt, failAt;     // operation that throws thrower() / returns 1
    std::function<void()> thrower;
    std::vector<std::string> calls;  // "operation key [victim]"
    CFiTraceLog *traceLog = nullptr; // the log the command object was given
} *g_script;

class ScriptedDisk : public ReservationDisk {
public:
    int reserveDisk(const std::string &k, bool, bool, bool) override { return step("reserveDisk " + k); }
    int registerDisk(const std::string &k, bool) override { return step("registerDisk " + k); }
    int premptDisk(const std::string &k, const std::string &v, bool, bool, bool, bool) override {
        return step("premptDisk " + k + " " + v);
    }
    int releaseDisk(const std::string &k, bool, bool, bool) override { return step("releaseDisk " + k); }
    int unregisterDisk(const std::string &k) override { return step("unregisterDisk " + k); }
    int clearDisk(const std::string &k) override { return step("clearDisk " + k); }
    int testUnitReady() override { return step("testUnitReady"); }
    std::vector<SReservationRecord> readDiskReservation() override {
        step("readDiskReservation");
        return g_script->records;
    }
    std::vector<std::string> readDiskRegistration() override {
        step("readDiskRegistration");
        return {kKey};
    }

private:
    int step(const std::string &call) {
        g_script->calls.push_back(call);
        g_script->traceLog = traceLog().get();
        std::string name = call.substr(0, call.find(' '));
        if (name == g_script->throwAt) g_script->thrower();
        return name == g_script->failAt ? 1 : 0;
    }
};

class FlowHandlers : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        g_script = &script;
        CDevicePlugin::setReservationDiskFactory([](const std::string &) -> ReservationDisk * { return new ScriptedDisk; });
    }
    void TearDown() override {
        CDevicePlugin::setReservationDiskFactory(nullptr);
        ProviderFixture::TearDown();
    }
    void throwAt(const char *operation, std::function<void()> thrower) {
        script.throwAt = operation;
        script.thrower = std::move(thrower);
    }
    Script script;
};

TEST_F(FlowHandlers, EachReservationFailureHasItsLine) {
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[] { throw CPGRReleaseFail(3); }, "Failed to release disk [%] with error [3]."},
        {[] { throw CPGRUnregisterFail(3); }, "Failed to unregister disk [%] with error [3]."},
        {[] { throw CPGRReserveFail(4); }, "Failed to reserve disk [%] with error [4]."},
        {[] { throw CPGRRegisterFail(3); }, "Failed to register disk [%] with error [3]."},
        {[] { throw CPGRRegisterKeyExist(3); }, "Failed to register key due to existing key on disk [%] with error [3]."},
        {[] { throw CPGRPreemptFail(3); }, "Failed to preempt disk [%] with error [3]."},
        {[] { throw CPGRClearFail(3); }, "Failed to clear disk [%] with error [3]."},
        {[] { throw CPGRReadRegistrationFail(2); }, "Failed to read registration on disk [%] with error [2]."},
        {[] { throw CPGRReadReservationFail(3); }, "Failed to read reservation on disk [%] with error [3]."},
        {[] { throw CPGRException(9); }, "PGR exeption was thrown during the operation on Disk [%] with error [9]."},
    };
    for (const auto &c : cases) {
        const std::string line = c.second.substr(0, c.second.find('%')) + kPath + c.second.substr(c.second.find('%') + 1);
        throwAt("readDiskReservation", c.first);
        EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0)) << line;
        EXPECT_EQ(KEL_SEV_ERROR, severityOf(line)) << line; // level 1
        EXPECT_EQ(1096, provider->diskRelease(kPath, kKey, 0x800)) << line;
        EXPECT_EQ(2, countOf(line));
        clearLines();
    }
    EXPECT_TRUE(errors->lastMessage().isNull());
}

TEST_F(FlowHandlers, UnexpectedKindsAreRecordedAtTheFlowsLines) {
    const std::vector<std::pair<std::function<void()>, std::string>> kinds = {
        {[] { throw EFiExecPipe("cmd", KEL_EXEC_PIPE_READ_TIMEOUT); }, "MSG_ERROR_UNHANDLED_EXEC_PIPE_EXCEPTION"},
        {[] { throw CFiError(5, CFiStringTool::toWide("t"), CFiStringTool::toWide("f"), 1, CFiStringTool::toWide("n")); },
         "MSG_ERROR_UNHANDLED_FIERROR_EXCEPTION"},
        {[] { throw CFiUdidException("UDID##x", 2); }, "MSG_ERROR_UDID_PARSING_EXCEPTION"},
        {[] { throw std::runtime_error("boom"); }, "MSG_ERROR_UNHANDLED_RUNTIME_EXCEPTION"},
        {[] { throw 42; }, "MSG_ERROR_UNHANDLED_INT_EXCEPTION"},
    };
    for (const auto &kind : kinds) {
        throwAt("readDiskRegistration", kind.first);
        EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0x4000));
        ASSERT_FALSE(errors->lastMessage().isNull());
        EXPECT_EQ(kind.second, errors->lastMessage()->messageId());
        EXPECT_EQ(2847, errors->lastMessage()->sourceLine());
        EXPECT_EQ(1096, provider->diskRelease(kPath, kKey, 0x4000 | 0x800));
        EXPECT_EQ(kind.second, errors->lastMessage()->messageId());
        EXPECT_EQ(3023, errors->lastMessage()->sourceLine());
    }
    // Anything else: the catch-all line at level 4000 (forwarded with severity 4).
    errors->deleteLastError(nullptr);
    throwAt("readDiskReservation", [] { throw std::logic_error("not a runtime error"); });
    EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0));
    EXPECT_EQ(1096, provider->diskRelease(kPath, kKey, 0x10000));
    EXPECT_EQ(2, countOf("Unknown exeption was thrown during the operation on Disk [" + kPath + "]."));
    EXPECT_EQ(KEL_SEV_DEBUG, severityOf("Unknown exeption was thrown during the operation on Disk [" + kPath + "]."));
    EXPECT_TRUE(errors->lastMessage().isNull());
}

TEST_F(FlowHandlers, NoCommandFollowsAFailure) {
    throwAt("reserveDisk", [] { throw CPGRReserveFail(3); });
    EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0x4000));
    // The registration made before an exception stays.
    EXPECT_EQ((std::vector<std::string>{"readDiskRegistration", "registerDisk " + kKey, "readDiskReservation",
                                        "reserveDisk " + kKey}),
              script.calls);

    script = Script();
    script.failAt = "reserveDisk"; // its registration is removed again
    EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0x4000));
    EXPECT_TRUE(traced("FAILED to reserve the disk [" + kPath + "] with key [" + kKey + "]."));
    EXPECT_EQ("unregisterDisk " + kKey, script.calls.back());
    // The command object writes to the provider's log.
    EXPECT_EQ(log.get(), script.traceLog);

    script = Script();
    script.records = {{"holder01", 5}, {"holder02", 5}}; // only the first holder is the victim
    script.failAt = "premptDisk";
    EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0x4000 | 0x2000));
    EXPECT_EQ((std::vector<std::string>{"premptDisk " + kKey + " holder01", "unregisterDisk " + kKey}),
              std::vector<std::string>(script.calls.end() - 2, script.calls.end()));
    script = Script();
    script.failAt = "registerDisk";
    EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0x4000));
    EXPECT_TRUE(traced("Failed to register key [" + kKey + "] on device [" + kPath + "]"));

    script = Script();
    script.records = {{kKey, 5}};
    script.failAt = "releaseDisk";
    EXPECT_EQ(1096, provider->diskRelease(kPath, kKey, 0x800 | 0x4000));
    EXPECT_TRUE(traced("FAILED to release the disk reservation on [" + kPath + "]."));
    script.failAt = "unregisterDisk";
    EXPECT_EQ(1096, provider->diskRelease(kPath, kKey, 0x800 | 0x4000));
    EXPECT_TRUE(traced("Failed to unregister key [" + kKey + "] on device [" + kPath + "]"));
}

TEST(PgrLogManagerConcurrency, SetAndGetFromManyThreads) {
    CPGRLogManagerPtr manager(new CPGRLogManager);
    CFiTraceLogPtr logs[2] = {CFiTraceLogPtr(new CFiTraceLog), CFiTraceLogPtr(new CFiTraceLog)};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if (t % 2 == 0) {
                    manager->setTraceLog(logs[i % 2]);
                } else if (CFiTraceLog *seen = manager->getTraceLog().get()) {
                    EXPECT_TRUE(seen == logs[0].get() || seen == logs[1].get());
                }
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    manager->setTraceLog(CFiTraceLogPtr());
    EXPECT_EQ(1, logs[0]->getCount()); // no reference lost or leaked
    EXPECT_EQ(1, logs[1]->getCount());
}

} // namespace

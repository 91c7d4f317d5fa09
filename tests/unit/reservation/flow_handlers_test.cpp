// The reserve and release flows' handling of what the commands throw or
// report, driven through a command object whose answers the test scripts
// (ReservationDiskWin cannot be made to throw the kit's exceptions or to
// return non-zero).
#include "pgr_test_support.h"

#include "pgr/pgrexception.h"

#include "pdk/cfiexecpipe.h"
#include "pdk/cfiudid.h"

#include <functional>
#include <stdexcept>

namespace {

using namespace kelm_pdk_4_4;
using pgr_test::ProviderFixture;

const std::string kPath = "\\\\.\\PHYSICALDRIVE7";
const std::string kKey = "c0a80001";

struct Script {
    std::vector<std::string> keys;
    std::vector<SReservationRecord> records;
    std::string throwAt;                // operation that throws
    std::function<void()> thrower;      // what it throws
    std::string failAt;                 // operation that returns 1
    std::vector<std::string> calls;     // "operation key [victim]"
    bool hadTraceLog = false;
    CFiTraceLog *traceLog = nullptr;
};
Script *g_script = nullptr;

class ScriptedDisk : public ReservationDisk {
public:
    int reserveDisk(const std::string &key, bool, bool, bool) override { return step("reserveDisk " + key); }
    int registerDisk(const std::string &key, bool ignore) override {
        return step("registerDisk " + key + (ignore ? " ignore" : ""));
    }
    int premptDisk(const std::string &key, const std::string &victim, bool, bool, bool, bool) override {
        return step("premptDisk " + key + " " + victim);
    }
    int releaseDisk(const std::string &key, bool, bool, bool) override { return step("releaseDisk " + key); }
    int unregisterDisk(const std::string &key) override { return step("unregisterDisk " + key); }
    int clearDisk(const std::string &key) override { return step("clearDisk " + key); }
    int testUnitReady() override { return step("testUnitReady"); }
    std::vector<SReservationRecord> readDiskReservation() override {
        step("readDiskReservation");
        return g_script->records;
    }
    std::vector<std::string> readDiskRegistration() override {
        step("readDiskRegistration");
        return g_script->keys;
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

ReservationDisk *makeScriptedDisk(const std::string &) { return new ScriptedDisk; }

class FlowHandlers : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        g_script = &script;
        CDevicePlugin::setReservationDiskFactory(&makeScriptedDisk);
    }
    void TearDown() override {
        CDevicePlugin::setReservationDiskFactory(nullptr);
        g_script = nullptr;
        ProviderFixture::TearDown();
    }
    Script script;
};

struct PgrCase {
    std::function<void()> thrower;
    const char *line; // with the path and code 3 filled in
};

std::vector<PgrCase> pgrCases() {
    return {
        {[] { throw CPGRReleaseFail(3); }, "Failed to release disk [%s] with error [3]."},
        {[] { throw CPGRUnregisterFail(3); }, "Failed to unregister disk [%s] with error [3]."},
        {[] { throw CPGRReserveFail(3); }, "Failed to reserve disk [%s] with error [3]."},
        {[] { throw CPGRRegisterFail(3); }, "Failed to register disk [%s] with error [3]."},
        {[] { throw CPGRRegisterKeyExist(3); },
         "Failed to register key due to existing key on disk [%s] with error [3]."},
        {[] { throw CPGRPreemptFail(3); }, "Failed to preempt disk [%s] with error [3]."},
        {[] { throw CPGRClearFail(3); }, "Failed to clear disk [%s] with error [3]."},
        {[] { throw CPGRReadRegistrationFail(3); }, "Failed to read registration on disk [%s] with error [3]."},
        {[] { throw CPGRReadReservationFail(3); }, "Failed to read reservation on disk [%s] with error [3]."},
        {[] { throw CPGRException(3); }, "PGR exeption was thrown during the operation on Disk [%s] with error [3]."},
    };
}

std::string withPath(const char *format) {
    std::string s = format;
    s.replace(s.find("%s"), 2, kPath);
    return s;
}

TEST_F(FlowHandlers, EachReservationFailureHasItsLine) {
    for (const PgrCase &c : pgrCases()) {
        script.throwAt = "readDiskReservation";
        script.thrower = c.thrower;
        collector.clear();
        EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0)) << c.line;
        EXPECT_TRUE(traced(withPath(c.line))) << c.line;
        EXPECT_EQ(KEL_SEV_ERROR, severityOf(withPath(c.line)));

        collector.clear();
        EXPECT_EQ(1096, provider->diskRelease(kPath, kKey, 0x800)) << c.line;
        EXPECT_TRUE(traced(withPath(c.line))) << c.line;
    }
    // Nothing went to the error manager as a message.
    EXPECT_TRUE(errors->lastMessage().isNull());
}

TEST_F(FlowHandlers, UnexpectedKindsAreRecordedAtTheFlowsLines) {
    struct Kind {
        std::function<void()> thrower;
        const char *id;
    };
    const std::vector<Kind> kinds = {
        {[] { throw EFiExecPipe("cmd", KEL_EXEC_PIPE_READ_TIMEOUT); }, "MSG_ERROR_UNHANDLED_EXEC_PIPE_EXCEPTION"},
        {[] { throw CFiError(5, CFiStringTool::toWide("text"), CFiStringTool::toWide("file"), 1, CFiStringTool::toWide("fn")); },
         "MSG_ERROR_UNHANDLED_FIERROR_EXCEPTION"},
        {[] { throw CFiUdidException("UDID##x", 2); }, "MSG_ERROR_UDID_PARSING_EXCEPTION"},
        {[] { throw std::runtime_error("boom"); }, "MSG_ERROR_UNHANDLED_RUNTIME_EXCEPTION"},
        {[] { throw 42; }, "MSG_ERROR_UNHANDLED_INT_EXCEPTION"},
    };
    for (const Kind &kind : kinds) {
        script.throwAt = "readDiskRegistration";
        script.thrower = kind.thrower;
        EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0x4000)) << kind.id;
        CFiMessagePtr m = errors->lastMessage();
        ASSERT_FALSE(m.isNull());
        EXPECT_EQ(kind.id, m->messageId());
        EXPECT_EQ(2847, m->sourceLine());
        EXPECT_EQ("providers\\device\\device_plugin", m->sourceFile());

        EXPECT_EQ(1096, provider->diskRelease(kPath, kKey, 0x4000 | 0x800)) << kind.id;
        m = errors->lastMessage();
        ASSERT_FALSE(m.isNull());
        EXPECT_EQ(kind.id, m->messageId());
        EXPECT_EQ(3023, m->sourceLine());
    }
}

TEST_F(FlowHandlers, AnythingElseEndsInTheCatchAll) {
    script.throwAt = "readDiskReservation";
    script.thrower = [] { throw std::logic_error("not a runtime error"); };
    const std::string line = withPath("Unknown exeption was thrown during the operation on Disk [%s].");
    EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0));
    EXPECT_TRUE(traced(line));
    EXPECT_EQ(KEL_SEV_DEBUG, severityOf(line));
    EXPECT_EQ(1096, provider->diskRelease(kPath, kKey, 0x10000));
    EXPECT_EQ(2, countOf(line));
    EXPECT_TRUE(errors->lastMessage().isNull());
}

TEST_F(FlowHandlers, NoCommandFollowsAnException) {
    script.throwAt = "reserveDisk";
    script.thrower = [] { throw CPGRReserveFail(3); };
    EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0x4000));
    // The registration made before stays: no unregisterDisk.
    EXPECT_EQ((std::vector<std::string>{"readDiskRegistration", "registerDisk " + kKey + " ignore", "readDiskReservation",
                                        "reserveDisk " + kKey}),
              script.calls);
}

TEST_F(FlowHandlers, ResultReportedFailuresOfReserve) {
    // RESERVE: line, registration removed, 1098.
    script.failAt = "reserveDisk";
    EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0x4000));
    EXPECT_TRUE(traced(withPath("FAILED to reserve the disk [%s] with key [c0a80001].")));
    EXPECT_EQ("unregisterDisk " + kKey, script.calls.back());
    // Without 0x4000 nothing was registered, so nothing is removed.
    script.calls.clear();
    EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0));
    EXPECT_EQ("reserveDisk " + kKey, script.calls.back());

    // PREEMPT: only the first holder is the victim.
    script = Script();
    script.records = {{"holder01", 5}, {"holder02", 5}};
    script.failAt = "premptDisk";
    EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0x4000 | 0x2000));
    EXPECT_TRUE(traced(withPath("FAILED to prempt the reservation for victim key[holder01] using key [c0a80001] on "
                                "disk [%s].")));
    EXPECT_EQ((std::vector<std::string>{"premptDisk " + kKey + " holder01", "unregisterDisk " + kKey}),
              std::vector<std::string>(script.calls.end() - 2, script.calls.end()));

    // Registration.
    script = Script();
    script.failAt = "registerDisk";
    EXPECT_EQ(1098, provider->diskReserve(kPath, kKey, 0x4000));
    EXPECT_TRUE(traced(withPath("Failed to register key [c0a80001] on device [%s]")));
    EXPECT_EQ(2u, script.calls.size());
}

TEST_F(FlowHandlers, ResultReportedFailuresOfRelease) {
    script.records = {{kKey, 5}};
    script.keys = {kKey};
    script.failAt = "releaseDisk";
    EXPECT_EQ(1096, provider->diskRelease(kPath, kKey, 0x800 | 0x4000));
    EXPECT_TRUE(traced(withPath("FAILED to release the disk reservation on [%s].")));
    EXPECT_EQ("releaseDisk " + kKey, script.calls.back());

    script.calls.clear();
    script.failAt = "unregisterDisk";
    EXPECT_EQ(1096, provider->diskRelease(kPath, kKey, 0x800 | 0x4000));
    EXPECT_TRUE(traced(withPath("Failed to unregister key [c0a80001] on device [%s]")));
}

TEST_F(FlowHandlers, CommandObjectWritesToTheProvidersLog) {
    EXPECT_EQ(0, provider->diskReserve(kPath, kKey, 0));
    EXPECT_EQ(log.get(), script.traceLog);
}

} // namespace

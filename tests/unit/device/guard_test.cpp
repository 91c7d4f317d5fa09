// The exception guard of the provider's operations: each handler's message.
#include "device_guard.h"
#include "device_plugin.h"

#include "pdk/cfistringtool.h"

#include <gtest/gtest.h>

#include <unicode/unistr.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace kelm_pdk_4_4;

constexpr int32_t kLine = 321;
constexpr int kFailure = 6;
const std::string kFile = "providers\\device\\device_plugin";

std::string argText(const icu::Formattable &f) {
    if (f.getType() == icu::Formattable::kLong) return std::to_string(f.getLong());
    std::string out;
    if (f.getType() == icu::Formattable::kString) f.getString().toUTF8String(out);
    return out;
}

class DeviceGuard : public ::testing::Test {
protected:
    template <class Body>
    int run(Body body, bool *caught = nullptr) {
        return guardedCall(errors, kLine, body, kFailure, caught);
    }

    // The message the guard pushed on this thread, with its arguments as text.
    struct Pushed {
        std::string id;
        int severity = -1;
        std::string file;
        int32_t line = -1;
        std::vector<std::string> args;
    };
    Pushed pushed() {
        Pushed p;
        CFiMessagePtr m = errors->lastMessage();
        if (m.isNull()) return p;
        p.id = m->messageId();
        p.severity = m->severity();
        p.file = m->sourceFile();
        p.line = m->sourceLine();
        if (auto *icu = dynamic_cast<CFiIcuMessage *>(m.get())) {
            for (const icu::Formattable &f : icu->arguments()) p.args.push_back(argText(f));
        }
        return p;
    }

    CFiErrorManagerPtr errors{new CFiErrorManager};
};

TEST_F(DeviceGuard, NothingThrownPassesTheResultThrough) {
    bool caught = true;
    EXPECT_EQ(17, run([] { return 17; }, &caught));
    EXPECT_FALSE(caught);
    EXPECT_TRUE(errors->lastMessage().isNull());
}

TEST_F(DeviceGuard, ExecPipeHandler) {
    bool caught = false;
    EXPECT_EQ(kFailure, run([]() -> int { throw EFiExecPipe("dir c:", KEL_EXEC_PIPE_READ_TIMEOUT); }, &caught));
    EXPECT_TRUE(caught);
    Pushed p = pushed();
    EXPECT_EQ("MSG_ERROR_UNHANDLED_EXEC_PIPE_EXCEPTION", p.id);
    EXPECT_EQ(KEL_SEV_ERROR, p.severity);
    EXPECT_EQ(kFile, p.file);
    EXPECT_EQ(kLine, p.line);
    EXPECT_EQ((std::vector<std::string>{"KEL_EXEC_PIPE_READ_TIMEOUT", "dir c:", kFile, "321"}), p.args);

    // A message, when the runner gave one, is the text shown.
    run([]() -> int { throw EFiExecPipe("x", KEL_EXEC_PIPE_CMD_FAILED, L"Command exited with status 2"); });
    EXPECT_EQ((std::vector<std::string>{"KEL_EXEC_PIPE_CMD_FAILED", "Command exited with status 2", kFile, "321"}),
              pushed().args);
}

TEST_F(DeviceGuard, FiErrorHandler) {
    const CFiError error(6, CFiStringTool::toWide("bad name"), CFiStringTool::toWide("a.cpp"), 12,
                         CFiStringTool::toWide("CX::f"));
    run([&]() -> int { throw error; });
    Pushed p = pushed();
    EXPECT_EQ("MSG_ERROR_UNHANDLED_FIERROR_EXCEPTION", p.id);
    EXPECT_EQ(KEL_SEV_ERROR, p.severity);
    EXPECT_EQ(kLine, p.line);
    // The error's own file and line, not the guard's.
    EXPECT_EQ((std::vector<std::string>{"bad name", "CX::f", "a.cpp", "12"}), p.args);
}

TEST_F(DeviceGuard, UdidHandler) {
    run([]() -> int { throw CFiUdidException("UDID##EMC", CFiUdidException::NO_VENDOR_END); });
    Pushed p = pushed();
    EXPECT_EQ("MSG_ERROR_UDID_PARSING_EXCEPTION", p.id);
    EXPECT_EQ(KEL_SEV_ERROR, p.severity);
    EXPECT_EQ((std::vector<std::string>{"UDID##EMC", "3"}), p.args);
}

TEST_F(DeviceGuard, RuntimeErrorHandlerTakesDerivedErrorsToo) {
    run([]() -> int { throw std::overflow_error("too big"); });
    Pushed p = pushed();
    EXPECT_EQ("MSG_ERROR_UNHANDLED_RUNTIME_EXCEPTION", p.id);
    EXPECT_EQ(KEL_SEV_ERROR, p.severity);
    EXPECT_EQ((std::vector<std::string>{"std::runtime_error", "too big", kFile, "321"}), p.args);
}

TEST_F(DeviceGuard, IntHandler) {
    run([]() -> int { throw 6; });
    Pushed p = pushed();
    EXPECT_EQ("MSG_ERROR_UNHANDLED_INT_EXCEPTION", p.id);
    EXPECT_EQ(KEL_SEV_ERROR, p.severity);
    EXPECT_EQ((std::vector<std::string>{"6", kFile, "321"}), p.args);
}

TEST_F(DeviceGuard, OtherExceptionsPassToTheCaller) {
    EXPECT_THROW(run([]() -> int { throw std::logic_error("not ours"); }), std::logic_error);
    EXPECT_THROW(run([]() -> int { throw 1L; }), long);
    EXPECT_TRUE(errors->lastMessage().isNull());
}

TEST_F(DeviceGuard, WithoutAnErrorManagerOnlyTheStatusRemains) {
    bool caught = false;
    EXPECT_EQ(kFailure, guardedCall(CFiErrorManagerPtr(), kLine, []() -> int { throw 1; }, kFailure, &caught));
    EXPECT_TRUE(caught);
}

TEST_F(DeviceGuard, InitGuardAddsTheInitializationFailure) {
    EXPECT_EQ(KEL_EINITFAILED, guardedInitCall(errors, CDevicePlugin::kInitGuardLine, CDevicePlugin::kInitFailedLine,
                                               []() -> int { throw std::runtime_error("x"); }));
    Pushed p = pushed();
    EXPECT_EQ("MSG_ERROR_INITIALIZATION_FAILED", p.id);
    EXPECT_EQ(KEL_SEV_WARNING, p.severity);
    EXPECT_EQ(kFile, p.file);
    EXPECT_EQ(100, p.line);
    EXPECT_TRUE(p.args.empty());

    CFiErrorManagerPtr fresh(new CFiErrorManager);
    EXPECT_EQ(0, guardedInitCall(fresh, 112, 113, [] { return 0; }));
    EXPECT_TRUE(fresh->lastMessage().isNull());
}

TEST(ExecPipeStatus, NamesFollowTheCodes) {
    EXPECT_STREQ("KEL_EXEC_PIPE_SUCCESS", execPipeStatusName(KEL_EXEC_PIPE_SUCCESS));
    EXPECT_STREQ("KEL_EXEC_PIPE_CLOSE_HANDLE_FAILED", execPipeStatusName(3));
    EXPECT_STREQ("KEL_EXEC_PIPE_CMD_ERROR_UNEXPECTED", execPipeStatusName(13));
    // A corrupted code is named, not looked up past the table.
    EXPECT_STREQ("KEL_EXEC_PIPE_UNKNOWN", execPipeStatusName(14));
    EXPECT_STREQ("KEL_EXEC_PIPE_UNKNOWN", execPipeStatusName(-1));
}

} // namespace

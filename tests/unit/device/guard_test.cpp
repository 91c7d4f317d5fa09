// The exception guard of the provider's operations: each handler's message.
#include "device_guard.h"
#include "device_plugin.h"

#include "pdk/cfistringtool.h"

#include <gtest/gtest.h>

#include <unicode/unistr.h>

#include <functional>
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

// Each handler: its message, with the guard's file and line unless the
// exception carries its own. The entry-point tests check the message names
// reach the framework; here the arguments are checked.
TEST_F(DeviceGuard, EachHandlerPushesItsMessageWithItsArguments) {
    const CFiError fiError(6, CFiStringTool::toWide("bad name"), CFiStringTool::toWide("a.cpp"), 12,
                           CFiStringTool::toWide("CX::f"));
    struct Case {
        std::function<int()> body;
        const char *id;
        std::vector<std::string> args;
    } cases[] = {
        {[]() -> int { throw EFiExecPipe("dir c:", KEL_EXEC_PIPE_READ_TIMEOUT); },
         "MSG_ERROR_UNHANDLED_EXEC_PIPE_EXCEPTION",
         {"KEL_EXEC_PIPE_READ_TIMEOUT", "dir c:", kFile, "321"}},
        // A message, when the runner gave one, is the text shown.
        {[]() -> int { throw EFiExecPipe("x", KEL_EXEC_PIPE_CMD_FAILED, L"Command exited with status 2"); },
         "MSG_ERROR_UNHANDLED_EXEC_PIPE_EXCEPTION",
         {"KEL_EXEC_PIPE_CMD_FAILED", "Command exited with status 2", kFile, "321"}},
        {[&]() -> int { throw fiError; }, "MSG_ERROR_UNHANDLED_FIERROR_EXCEPTION", {"bad name", "CX::f", "a.cpp", "12"}},
        {[]() -> int { throw CFiUdidException("UDID##EMC", CFiUdidException::NO_VENDOR_END); },
         "MSG_ERROR_UDID_PARSING_EXCEPTION",
         {"UDID##EMC", "3"}},
        {[]() -> int { throw std::overflow_error("too big"); }, "MSG_ERROR_UNHANDLED_RUNTIME_EXCEPTION",
         {"std::runtime_error", "too big", kFile, "321"}},
        {[]() -> int { throw 6; }, "MSG_ERROR_UNHANDLED_INT_EXCEPTION", {"6", kFile, "321"}},
    };
    for (const Case &c : cases) {
        bool caught = false;
        EXPECT_EQ(kFailure, run(c.body, &caught)) << c.id;
        EXPECT_TRUE(caught);
        Pushed p = pushed();
        EXPECT_EQ(c.id, p.id);
        EXPECT_EQ(KEL_SEV_ERROR, p.severity);
        EXPECT_EQ(kFile, p.file);
        EXPECT_EQ(kLine, p.line);
        EXPECT_EQ(c.args, p.args) << c.id;
    }
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

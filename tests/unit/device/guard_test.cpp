// The exception guard of the provider's operations: each handler's message.
#include "device_guard.h"
#include "device_plugin.h"

#include "pdk/cfistringtool.h"

#include <gtest/gtest.h>

#include <unicode/unistr.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace {

using namespace kelm_pdk_4_4;

constexpr int32_t kLine = 321;
constexpr int kFailure = 6;

struct DeviceGuard : ::testing::Test {
    template <class Body>
    int run(Body body, bool *caught = nullptr) { return guardedCall(errors, kLine, body, kFailure, caught); }

    // The message the guard pushed on this thread: "id sev file:line | arg | arg...".
    std::string pushed() {
        CFiMessagePtr m = errors->lastMessage();
        if (m.isNull()) return "";
        std::string out = m->messageId() + " " + std::to_string(m->severity()) + " " + m->sourceFile() + ":" +
                          std::to_string(m->sourceLine());
        if (auto *icu = dynamic_cast<CFiIcuMessage *>(m.get())) {
            for (const icu::Formattable &f : icu->arguments()) {
                std::string arg;
                if (f.getType() == icu::Formattable::kLong) arg = std::to_string(f.getLong());
                if (f.getType() == icu::Formattable::kString) f.getString().toUTF8String(arg);
                out += " | " + arg;
            }
        }
        return out;
    }

    CFiErrorManagerPtr errors{new CFiErrorManager};
};

// Each handler: its message, with the guard's file and line unless the
// exception carries its own. The entry-point tests check a message reaches
// the framework; here the arguments are checked.
TEST_F(DeviceGuard, EachHandlerPushesItsMessageWithItsArguments) {
    const CFiError fiError(6, CFiStringTool::toWide("bad name"), CFiStringTool::toWide("a.cpp"), 12,
                           CFiStringTool::toWide("CX::f"));
    const std::string at = " 3 providers\\device\\device_plugin:321 | ";
    const std::pair<std::function<int()>, std::string> cases[] = {
        {[]() -> int { throw EFiExecPipe("dir c:", KEL_EXEC_PIPE_READ_TIMEOUT); },
         "MSG_ERROR_UNHANDLED_EXEC_PIPE_EXCEPTION" + at +
             "KEL_EXEC_PIPE_READ_TIMEOUT | dir c: | providers\\device\\device_plugin | 321"},
        // A message, when the runner gave one, is the text shown.
        {[]() -> int { throw EFiExecPipe("x", KEL_EXEC_PIPE_CMD_FAILED, L"Command exited with status 2"); },
         "MSG_ERROR_UNHANDLED_EXEC_PIPE_EXCEPTION" + at +
             "KEL_EXEC_PIPE_CMD_FAILED | Command exited with status 2 | providers\\device\\device_plugin | 321"},
        {[&]() -> int { throw fiError; }, "MSG_ERROR_UNHANDLED_FIERROR_EXCEPTION" + at + "bad name | CX::f | a.cpp | 12"},
        {[]() -> int { throw CFiUdidException("UDID##EMC", CFiUdidException::NO_VENDOR_END); },
         "MSG_ERROR_UDID_PARSING_EXCEPTION" + at + "UDID##EMC | 3"},
        {[]() -> int { throw std::overflow_error("too big"); },
         "MSG_ERROR_UNHANDLED_RUNTIME_EXCEPTION" + at + "std::runtime_error | too big | providers\\device\\device_plugin | 321"},
        {[]() -> int { throw 6; }, "MSG_ERROR_UNHANDLED_INT_EXCEPTION" + at + "6 | providers\\device\\device_plugin | 321"},
    };
    for (const auto &c : cases) {
        bool caught = false;
        EXPECT_EQ(kFailure, run(c.first, &caught)) << c.second;
        EXPECT_TRUE(caught);
        EXPECT_EQ(c.second, pushed());
    }
}

TEST_F(DeviceGuard, ResultsAndOtherExceptionsPassToTheCaller) {
    bool caught = true;
    EXPECT_EQ(17, run([] { return 17; }, &caught));
    EXPECT_FALSE(caught);
    EXPECT_THROW(run([]() -> int { throw std::logic_error("not ours"); }), std::logic_error);
    EXPECT_THROW(run([]() -> int { throw 1L; }), long);
    EXPECT_EQ("", pushed());
    // Without an error manager only the status remains.
    EXPECT_EQ(kFailure, guardedCall(CFiErrorManagerPtr(), kLine, []() -> int { throw 1; }, kFailure, &caught));
    EXPECT_TRUE(caught);
}

TEST_F(DeviceGuard, InitGuardAddsTheInitializationFailure) {
    EXPECT_EQ(KEL_EINITFAILED, guardedInitCall(errors, CDevicePlugin::kInitGuardLine, CDevicePlugin::kInitFailedLine,
                                               []() -> int { throw std::runtime_error("x"); }));
    EXPECT_EQ("MSG_ERROR_INITIALIZATION_FAILED 2 providers\\device\\device_plugin:100", pushed()); // a warning
}

TEST(ExecPipeStatus, NamesFollowTheCodes) {
    EXPECT_STREQ("KEL_EXEC_PIPE_CMD_ERROR_UNEXPECTED", execPipeStatusName(13));
    // A corrupted code is named, not looked up past the table.
    EXPECT_STREQ("KEL_EXEC_PIPE_UNKNOWN", execPipeStatusName(14));
    EXPECT_STREQ("KEL_EXEC_PIPE_UNKNOWN", execPipeStatusName(-1));
}

} // namespace

// Last error per thread, handler dispatch and forwarding to the framework's
// callback.
#include "pdk/cfierror.h"
#include "pdk/cfimessagecatalog.h"
#include "pdk/cfistringtool.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <unicode/unistr.h>

#include <string>
#include <thread>
#include <vector>

using namespace kelm_pdk_4_4;

// Wide text from UTF-8.
static WString W(const char *s) { return CFiStringTool::toWide(s); }
using icu::Formattable;
using icu::UnicodeString;

namespace {

CFiMessagePtr makeMessage(const std::string &id, kel_eseverity severity = KEL_SEV_ERROR,
                          std::vector<Formattable> args = {}) {
    return CFiMessagePtr(new CFiIcuMessage(id, args.empty() ? nullptr : args.data(),
                                           static_cast<int32_t>(args.size()), severity, "test", 1));
}

std::string lastId(CFiErrorManager &m) {
    const kel_msg_info *info = m.getLastError();
    return info == nullptr ? std::string() : CFiIcuMessage(info).messageId();
}

struct Recorded {
    std::string handler;
    std::string text;
    int severity;
};

class RecordingHandler : public CFiErrorHandlerBase {
public:
    RecordingHandler(std::string name, std::vector<Recorded> &log) : m_name(std::move(name)), m_log(log) {}
    int handleText(const std::string &text, kel_eseverity severity) override {
        m_log.push_back({m_name, text, severity});
        return 0;
    }
    int handleMessage(const CFiMessagePtr &message) override {
        m_log.push_back({m_name, message->messageId(), message->severity()});
        return 0;
    }

private:
    std::string m_name;
    std::vector<Recorded> &m_log;
};

struct CallbackCall {
    std::string native;
    std::string defaultText;
    int severity;
};

void recordCallback(kel_pgn_init *init, const wchar_t *native, const wchar_t *defaultText, int severity) {
    auto *calls = static_cast<std::vector<CallbackCall> *>(init->user);
    calls->push_back({CFiStringTool::toNarrow(native), CFiStringTool::toNarrow(defaultText), severity});
}

} // namespace

TEST(LastError, KeptPerThreadReplacedAndDeleted) {
    CFiErrorManager m;
    EXPECT_EQ(m.getLastError(), nullptr);
    m.pushError(makeMessage("FIRST"));
    m.pushError(makeMessage("SECOND"));
    EXPECT_EQ(lastId(m), "SECOND");

    std::string seenByOther = "unset";
    std::thread([&] { seenByOther = m.getLastError() == nullptr ? "null" : "non-null"; }).join();
    EXPECT_EQ(seenByOther, "null") << "another thread never sees this thread's last error";

    m.deleteLastError(nullptr);
    EXPECT_EQ(m.getLastError(), nullptr);
    m.deleteLastError(nullptr); // nothing left: no effect
    m.pushError(CFiMessagePtr());
    EXPECT_EQ(m.getLastError(), nullptr) << "an empty message is ignored";
    m.pushError(makeMessage("KEPT"));
    m.pushError("a trace line", KEL_SEV_INFO);
    EXPECT_EQ(lastId(m), "KEPT") << "texts do not touch the last error";

    // An ended thread releases its message.
    CFiMessagePtr message = makeMessage("FROM_THREAD");
    std::thread([&] {
        m.pushError(message);
        EXPECT_EQ(message->getCount(), 2);
    }).join();
    EXPECT_EQ(message->getCount(), 1) << "the table dropped its reference when the thread ended";
}

TEST(Handlers, CalledInRegistrationOrderAndRemovable) {
    CFiErrorManager m;
    std::vector<Recorded> log;
    RecordingHandler a("a", log), b("b", log);
    m.registerHandler(&a);
    m.registerHandler(&b);
    m.registerHandler(nullptr);
    m.pushError("line", KEL_SEV_WARNING);
    m.pushError(makeMessage("MSG", KEL_SEV_ERROR));
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].handler + log[1].handler + log[2].handler + log[3].handler, "abab");
    EXPECT_EQ(log[0].text + log[2].text, "lineMSG");
    EXPECT_EQ(log[2].severity, KEL_SEV_ERROR);

    m.unregisterHandler(&a);
    m.pushError("again", KEL_SEV_INFO);
    EXPECT_EQ(log.back().handler + std::to_string(log.size()), "b5");
}

TEST(Handlers, AHandlerMayPushAndRemoveItselfWithoutDeadlock) {
    CFiErrorManager m;
    struct SelfRemoving : CFiErrorHandlerBase {
        CFiErrorManager *manager = nullptr;
        int texts = 0;
        int handleText(const std::string &, kel_eseverity) override {
            ++texts;
            return 0;
        }
        int handleMessage(const CFiMessagePtr &) override {
            manager->pushError("traced from a handler", KEL_SEV_INFO);
            manager->unregisterHandler(this);
            return 0;
        }
    } h;
    h.manager = &m;
    m.registerHandler(&h);
    m.pushError(makeMessage("M"));
    EXPECT_EQ(h.texts, 1);
    m.pushError("after removal", KEL_SEV_INFO);
    EXPECT_EQ(h.texts, 1);
}

class Forwarding : public ::testing::Test {
protected:
    void SetUp() override {
        root = rendo_test::makeInstallRoot("errors-fwd");
        ASSERT_FALSE(root.empty());
        catalogs = CFiMessageCatalogManagerPtr(new CFiMessageCatalogManager);
        catalogs->registerFactory(new CFiIcuMessageCatalogFactory("root", W("rendo")));
        init.callback = recordCallback;
        init.native_language = &nativePtr;
        init.user = &calls;
    }
    void TearDown() override { rendo_test::removeTree(root); }

    std::string root;
    CFiMessageCatalogManagerPtr catalogs;
    char german[3] = "de";
    char *nativePtr = german;
    kel_pgn_init init{};
    std::vector<CallbackCall> calls;
};

TEST_F(Forwarding, MessagesGoInTheNativeAndTheDefaultLanguage) {
    CFiErrorHandler handler(&init, catalogs);
    german[0] = 'x'; // the handler copied the language at construction
    CFiErrorManager m;
    m.registerHandler(&handler);
    m.pushError(makeMessage("MSG_ERROR_DEVICE_NOT_FOUND", KEL_SEV_ERROR, {Formattable(UnicodeString("UDID##X"))}));
    m.pushError(makeMessage("MSG_ERROR_INITIALIZATION_FAILED", KEL_SEV_WARNING));
    m.pushError("rendo:ts <Thread id - 1> Entering Function x\n", KEL_SEV_DEBUG); // texts: default text only
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].native + "|" + calls[2].defaultText, "|rendo:ts <Thread id - 1> Entering Function x\n");
    EXPECT_EQ(calls[2].severity, KEL_SEV_DEBUG);
    EXPECT_EQ(calls[0].defaultText,
              "rendo: No disk with the unique disk identifier (UDID) UDID##X was found on this host.");
    EXPECT_EQ(calls[0].native, "rendo: Auf diesem Host wurde kein Datentr\xC3\xA4ger mit der eindeutigen "
                               "Datentr\xC3\xA4gerkennung (UDID) UDID##X gefunden.");
    EXPECT_EQ(calls[0].severity, KEL_SEV_ERROR);
    EXPECT_EQ(calls[1].severity, KEL_SEV_WARNING);
    EXPECT_EQ(calls[1].native, "rendo: Die Initialisierung des rendo-Providers ist fehlgeschlagen.");

    // Without a native language both texts are the default one.
    calls.clear();
    init.native_language = nullptr;
    CFiErrorHandler noNative(&init, catalogs);
    m.unregisterHandler(&handler);
    m.registerHandler(&noNative);
    m.pushError(makeMessage("MSG_NOT_IN_ANY_BUNDLE"));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].native, "rendo: <MSG_NOT_IN_ANY_BUNDLE>");
    EXPECT_EQ(calls[0].defaultText, "rendo: <MSG_NOT_IN_ANY_BUNDLE>");

    // A peer's severity outside the enum's values reaches the callback as sent.
    const char peer[] = "<SERIALIZED_MESSAGE MSGID=MSG_X SEVERITY=7>\n</SERIALIZED_MESSAGE>\n";
    kel_msg_info info{peer, static_cast<uint32_t>(sizeof peer - 1)};
    m.pushError(CFiMessagePtr(new CFiIcuMessage(&info)));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].severity, 7);
}

TEST_F(Forwarding, NothingIsForwardedWithoutInitRecordOrCallback) {
    CFiErrorHandler noInit(nullptr, catalogs);
    init.callback = nullptr;
    CFiErrorHandler noCallback(&init, catalogs);
    CFiErrorManager m;
    m.registerHandler(&noInit);
    m.registerHandler(&noCallback);
    m.pushError("text", KEL_SEV_ERROR);
    m.pushError(makeMessage("MSG_ERROR_INITIALIZATION_FAILED"));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(lastId(m), "MSG_ERROR_INITIALIZATION_FAILED") << "still kept as the last error";
}

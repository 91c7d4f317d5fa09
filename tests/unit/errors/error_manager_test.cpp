// Last error per thread, handler dispatch, forwarding to the framework's
// callback, and the message catalogs over the installed ICU bundles.
#include "pdk/cfierror.h"
#include "pdk/cfimessagecatalog.h"
#include "pdk/cfistringtool.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <string>
#include <thread>
#include <vector>

using namespace kelm_pdk_4_4;
using icu::Formattable;
using icu::UnicodeString;

namespace {

WString W(const char *s) { return CFiStringTool::toWide(s); }
std::string narrow(const WString &s) { return CFiStringTool::toNarrow(s); }
std::string narrow(const wchar_t *s) { return CFiStringTool::toNarrow(s); }

const char kEnglish5[] = "rendo: Memory allocation failed.";

CFiMessagePtr makeMessage(const std::string &id, kel_eseverity severity = KEL_SEV_ERROR,
                          std::vector<Formattable> args = {}) {
    return CFiMessagePtr(new CFiIcuMessage(id, args.empty() ? nullptr : args.data(),
                                           static_cast<int32_t>(args.size()), severity, "test", 1));
}

std::string lastId(CFiErrorManager &m) {
    const kel_msg_info *info = m.getLastError();
    return info == nullptr ? std::string() : CFiIcuMessage(info).messageId();
}

// Records "native|default|severity" for every callback.
void recordCallback(kel_pgn_init *init, const wchar_t *native, const wchar_t *defaultText, int severity) {
    static_cast<std::vector<std::string> *>(init->user)
        ->push_back(narrow(native) + "|" + narrow(defaultText) + "|" + std::to_string(severity));
}

// ICU falls back through the process's default locale before root, and
// formats numbers for it: pin it so results do not depend on the machine.
class IcuDefaultLocale : public ::testing::Environment {
public:
    void SetUp() override {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale("en_US"), status);
        ASSERT_TRUE(U_SUCCESS(status));
    }
};
const ::testing::Environment *const g_icuLocale = ::testing::AddGlobalTestEnvironment(new IcuDefaultLocale);

// A private install root with the bundles, a catalog manager and an init
// record whose callback records into calls.
class Catalogs : public ::testing::Test {
protected:
    void SetUp() override {
        root = rendo_test::makeInstallRoot("errors-cat");
        ASSERT_TRUE(rendo_test::fileExists(root + "Messages/librendo/root.res"));
        init.callback = recordCallback;
        init.native_language = &nativePtr;
        init.user = &calls;
    }
    void TearDown() override { rendo_test::removeTree(root); }
    void withFactory() { catalogs->registerFactory(new CFiIcuMessageCatalogFactory("root", W("rendo"))); }
    std::string message(const std::string &id, const std::string &language, const wchar_t *fallback = nullptr) {
        return narrow(catalogs->getMessage(id, fallback, language));
    }

    std::string root;
    CFiMessageCatalogManagerPtr catalogs{new CFiMessageCatalogManager};
    char german[3] = "de";
    char *nativePtr = german;
    kel_pgn_init init{};
    std::vector<std::string> calls;
};

using Forwarding = Catalogs;

} // namespace

TEST(LastError, KeptPerThreadReplacedAndDeleted) {
    CFiErrorManager m;
    EXPECT_EQ(m.getLastError(), nullptr);
    m.pushError(makeMessage("FIRST"));
    m.pushError(makeMessage("SECOND"));
    EXPECT_EQ(lastId(m), "SECOND");
    bool otherSees = true;
    std::thread([&] { otherSees = m.getLastError() != nullptr; }).join();
    EXPECT_FALSE(otherSees) << "another thread never sees this thread's last error";
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

TEST(Handlers, AHandlerMayPushAndRemoveItselfWithoutDeadlock) {
    CFiErrorManager m;
    struct SelfRemoving : CFiErrorHandlerBase {
        CFiErrorManager *manager = nullptr;
        int texts = 0;
        int handleText(const std::string &, kel_eseverity) override { return ++texts, 0; }
        int handleMessage(const CFiMessagePtr &) override {
            manager->pushError("traced from a handler", KEL_SEV_INFO);
            manager->unregisterHandler(this);
            return 0;
        }
    } h;
    h.manager = &m;
    m.registerHandler(nullptr); // ignored
    m.registerHandler(&h);
    m.pushError(makeMessage("M"));
    m.pushError("after removal", KEL_SEV_INFO);
    EXPECT_EQ(h.texts, 1);
}

TEST_F(Forwarding, MessagesGoInTheNativeAndTheDefaultLanguage) {
    withFactory();
    CFiErrorHandler handler(&init, catalogs);
    german[0] = 'x'; // the handler copied the language at construction
    CFiErrorManager m;
    m.registerHandler(&handler);
    m.pushError(makeMessage("MSG_ERROR_DEVICE_NOT_FOUND", KEL_SEV_ERROR, {Formattable(UnicodeString("UDID##X"))}));
    m.pushError(makeMessage("MSG_ERROR_INITIALIZATION_FAILED", KEL_SEV_WARNING));
    m.pushError("rendo:ts <Thread id - 1> Entering Function x\n", KEL_SEV_DEBUG); // texts: default text only
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "rendo: Auf diesem Host wurde kein Datentr\xC3\xA4ger mit der eindeutigen "
                         "Datentr\xC3\xA4gerkennung (UDID) UDID##X gefunden.|rendo: No disk with the unique disk "
                         "identifier (UDID) UDID##X was found on this host.|" + std::to_string(KEL_SEV_ERROR),
                         "rendo: Die Initialisierung des rendo-Providers ist fehlgeschlagen.|rendo: The "
                         "initialisation of the rendo provider failed.|" + std::to_string(KEL_SEV_WARNING),
                         "|rendo:ts <Thread id - 1> Entering Function x\n|" + std::to_string(KEL_SEV_DEBUG)}));

    // Without a native language both texts are the default one; a peer's
    // severity outside the enum's values reaches the callback as sent.
    calls.clear();
    init.native_language = nullptr;
    CFiErrorHandler noNative(&init, catalogs);
    m.unregisterHandler(&handler);
    m.registerHandler(&noNative);
    m.pushError(makeMessage("MSG_NOT_IN_ANY_BUNDLE"));
    const char peer[] = "<SERIALIZED_MESSAGE MSGID=MSG_X SEVERITY=7>\n</SERIALIZED_MESSAGE>\n";
    kel_msg_info info{peer, static_cast<uint32_t>(sizeof peer - 1)};
    m.pushError(CFiMessagePtr(new CFiIcuMessage(&info)));
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "rendo: <MSG_NOT_IN_ANY_BUNDLE>|rendo: <MSG_NOT_IN_ANY_BUNDLE>|" + std::to_string(KEL_SEV_ERROR),
                         "rendo: <MSG_X>|rendo: <MSG_X>|7"}));
}

TEST_F(Forwarding, NothingIsForwardedWithoutInitRecordOrCallback) {
    init.callback = nullptr;
    CFiErrorHandler noInit(nullptr, catalogs), noCallback(&init, catalogs);
    CFiErrorManager m;
    for (CFiErrorHandler *h : {&noInit, &noCallback}) m.registerHandler(h);
    m.pushError("text", KEL_SEV_ERROR);
    m.pushError(makeMessage("MSG_ERROR_INITIALIZATION_FAILED"));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(lastId(m), "MSG_ERROR_INITIALIZATION_FAILED") << "still kept as the last error";
}

TEST_F(Catalogs, WithoutFactoryOrBundlesTheFallbackOrTheBracketedIdentifier) {
    EXPECT_EQ(message("MSG_ERROR_RENDO_0005", ""), "<MSG_ERROR_RENDO_0005>");
    EXPECT_EQ(message("MSG_ERROR_RENDO_0005", "de", L"given"), "given");
    rendo_test::removeTree(root + "Messages/librendo");
    withFactory();
    EXPECT_EQ(message("MSG_ERROR_RENDO_0005", ""), "<MSG_ERROR_RENDO_0005>");
    EXPECT_EQ(message("MSG_ERROR_RENDO_0005", "de", L"fb"), "fb");
}

namespace {

// A catalog factory whose catalogs fail their first initialisations, counting the attempts.
class FlakyFactory : public CFiMessageCatalogFactory {
public:
    explicit FlakyFactory(int &attempts) : CFiMessageCatalogFactory("root", W("rendo")), m_attempts(attempts) {}
    CFiMessageCatalogPtr createCatalog(const char *) override {
        struct Flaky : CFiMessageCatalog {
            int &attempts;
            explicit Flaky(int &a) : attempts(a) {}
            int init() override { return ++attempts < 3 ? 3 : 0; }
            WString getMessage(const std::string &id, const wchar_t *) override { return W(("flaky " + id).c_str()); }
        };
        return CFiMessageCatalogPtr(new Flaky(m_attempts));
    }
    CFiMessagePtr createMessage(const kel_msg_info *info) override { return CFiMessagePtr(new CFiIcuMessage(info)); }

private:
    int &m_attempts;
};

} // namespace

TEST_F(Catalogs, FailedActivationIsTriedAgainAndThenKept) {
    int attempts = 0;
    catalogs->registerFactory(new FlakyFactory(attempts)); // attempt 1 activates "root"
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(message("ID", ""), "<ID>");     // attempt 2 fails too
    EXPECT_EQ(message("ID", ""), "flaky ID"); // attempt 3 succeeds and is kept
    EXPECT_EQ(message("ID", ""), "flaky ID");
    EXPECT_EQ(attempts, 3);
}

TEST_F(Catalogs, StoredTextsLiveUntilDeleted) {
    withFactory();
    wchar_t *english = nullptr, *german = nullptr, *again = nullptr;
    catalogs->getLocalizedMessage("MSG_ERROR_RENDO_0005", "", &english);
    catalogs->getLocalizedMessage("MSG_ERROR_RENDO_0005", "de", &german);
    EXPECT_EQ(narrow(english), kEnglish5) << "a second language under the same key leaves the first text intact";
    // The bundles' texts by language are kelm-host's errmsg tests; a fallback
    // given for an identifier the bundles lack wins over the bracketed one.
    EXPECT_EQ(message("MSG_ERROR_RENDO_3999", "de", L"fallback"), "fallback");
    catalogs->getLocalizedMessage("MSG_ERROR_RENDO_0005", "", &again);
    EXPECT_EQ(again, english) << "the same text is handed out again";
    wchar_t unknown[] = L"never handed out";
    wchar_t *unknownPtr = unknown;
    catalogs->deleteLocalizedMessage(&unknownPtr);
    catalogs->deleteLocalizedMessage(nullptr);
    catalogs->deleteLocalizedMessage(&english); // one of two hand-outs
    catalogs->deleteLocalizedMessage(&german);
    EXPECT_EQ(narrow(again), kEnglish5);
    catalogs->getLocalizedMessage(static_cast<const kel_msg_info *>(nullptr), "de", &again);
    EXPECT_EQ(narrow(again), "rendo: <>");
}

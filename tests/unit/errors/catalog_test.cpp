// Message catalogs over the installed ICU bundles: activation and fallback,
// the native language, and the store of texts handed to the framework.
#include "pdk/cfierror.h"
#include "pdk/cfimessagecatalog.h"
#include "pdk/cfistringtool.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <unicode/locid.h>

#include <filesystem>

using namespace kelm_pdk_4_4;

// Wide text from UTF-8.
static WString W(const char *s) { return CFiStringTool::toWide(s); }

namespace {

std::string narrow(const WString &s) { return CFiStringTool::toNarrow(s); }
std::string narrow(const wchar_t *s) { return CFiStringTool::toNarrow(s); }

const char kEnglish5[] = "rendo: Memory allocation failed.";
const char kGerman5[] = "rendo: Die Speicherzuweisung ist fehlgeschlagen.";

class Catalogs : public ::testing::Test {
protected:
    void SetUp() override {
        root = rendo_test::makeInstallRoot("errors-cat");
        ASSERT_FALSE(root.empty());
        ASSERT_TRUE(rendo_test::fileExists(root + "Messages/librendo/root.res"));
    }
    void TearDown() override { rendo_test::removeTree(root); }

    void withFactory() { manager.registerFactory(new CFiIcuMessageCatalogFactory("root", W("rendo"))); }
    std::string message(const std::string &id, const std::string &language, const wchar_t *fallback = nullptr) {
        return narrow(manager.getMessage(id, fallback, language));
    }

    std::string root;
    CFiMessageCatalogManager manager;
};

} // namespace

TEST_F(Catalogs, WithoutFactoryOrBundlesTheFallbackOrTheBracketedIdentifier) {
    EXPECT_EQ(message("MSG_ERROR_RENDO_0005", ""), "<MSG_ERROR_RENDO_0005>");
    EXPECT_EQ(message("MSG_ERROR_RENDO_0005", "de", L"given"), "given");
    rendo_test::removeTree(root + "Messages/librendo");
    withFactory();
    EXPECT_EQ(message("MSG_ERROR_RENDO_0005", ""), "<MSG_ERROR_RENDO_0005>");
    EXPECT_EQ(message("MSG_ERROR_RENDO_0005", "de", L"fb"), "fb");
}

TEST_F(Catalogs, RootGermanAndLocalesThatAreNotInstalled) {
    withFactory();
    EXPECT_EQ(message("MSG_ERROR_RENDO_0005", ""), kEnglish5);
    EXPECT_EQ(message("MSG_ERROR_RENDO_0005", "de"), kGerman5);
    WString umlaut = manager.getMessage("MSG_ERROR_RENDO_0004", nullptr, "de");
    EXPECT_NE(umlaut.find(L"unterst\u00FCtzt"), WString::npos) << "bundle text decoded as UTF-8";
    // Only root stands in for an unknown language: accepted, root texts.
    EXPECT_EQ(message("MSG_ERROR_RENDO_0005", "fr"), kEnglish5);
    // A parent locale standing in (de for de_AT) is refused by the catalog;
    // the manager then answers from the default catalog.
    EXPECT_EQ(message("MSG_ERROR_RENDO_0005", "de_AT"), kEnglish5);
    // A missing identifier: provider name and the bracketed identifier.
    EXPECT_EQ(message("MSG_ERROR_RENDO_3999", "de"), "rendo: <MSG_ERROR_RENDO_3999>");
    EXPECT_EQ(message("MSG_ERROR_RENDO_3999", "de", L"fallback"), "fallback");
}

namespace {

// A catalog that fails its first initialisations, counting the attempts.
class FlakyCatalog : public CFiMessageCatalog {
public:
    explicit FlakyCatalog(int &attempts) : m_attempts(attempts) {}
    int init() override { return ++m_attempts < 3 ? 3 : 0; }
    WString getMessage(const std::string &id, const wchar_t *) override { return W(("flaky " + id).c_str()); }

private:
    int &m_attempts;
};

class FlakyFactory : public CFiMessageCatalogFactory {
public:
    explicit FlakyFactory(int &attempts) : CFiMessageCatalogFactory("root", W("rendo")), m_attempts(attempts) {}
    CFiMessageCatalogPtr createCatalog(const char *) override {
        return CFiMessageCatalogPtr(new FlakyCatalog(m_attempts));
    }
    CFiMessagePtr createMessage(const kel_msg_info *info) override { return CFiMessagePtr(new CFiIcuMessage(info)); }

private:
    int &m_attempts;
};

} // namespace

TEST_F(Catalogs, FailedActivationIsTriedAgainAndThenKept) {
    int attempts = 0;
    manager.registerFactory(new FlakyFactory(attempts)); // attempt 1 activates "root"
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(message("ID", ""), "<ID>");   // attempt 2 fails too
    EXPECT_EQ(message("ID", ""), "flaky ID"); // attempt 3 succeeds and is kept
    EXPECT_EQ(message("ID", ""), "flaky ID");
    EXPECT_EQ(attempts, 3);
}

TEST_F(Catalogs, StoredTextsLiveUntilDeleted) {
    withFactory();
    wchar_t *english = nullptr;
    wchar_t *german = nullptr;
    wchar_t *again = nullptr;
    manager.getLocalizedMessage("MSG_ERROR_RENDO_0005", "", &english);
    manager.getLocalizedMessage("MSG_ERROR_RENDO_0005", "de", &german);
    EXPECT_EQ(narrow(english), kEnglish5) << "a second language under the same key leaves the first text intact";
    manager.getLocalizedMessage("MSG_ERROR_RENDO_0005", "", &again);
    EXPECT_EQ(again, english) << "the same text is handed out again";

    wchar_t unknown[] = L"never handed out";
    wchar_t *unknownPtr = unknown;
    manager.deleteLocalizedMessage(&unknownPtr);
    manager.deleteLocalizedMessage(nullptr);
    manager.deleteLocalizedMessage(&english); // one of two hand-outs
    manager.deleteLocalizedMessage(&german);
    EXPECT_EQ(narrow(again), kEnglish5);
    manager.getLocalizedMessage(static_cast<const kel_msg_info *>(nullptr), "de", &again);
    EXPECT_EQ(narrow(again), "rendo: <>");
}

namespace {

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

} // namespace

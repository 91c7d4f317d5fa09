#include "pdk/cfimessagecatalog.h"

#include "pdk/cficonfiguration.h"
#include "pdk/cfistringtool.h"

#include <unicode/locid.h>
#include <unicode/resbund.h>
#include <unicode/unistr.h>

#include <cstring>
#include <cwchar>
#include <list>
#include <map>
#include <memory>
#include <mutex>

namespace kelm_pdk_4_4 {

namespace {

const char kNativeLanguage[] = "native";

WString fromUnicode(const icu::UnicodeString &s) {
    std::string utf8;
    s.toUTF8String(utf8);
    return CFiStringTool::toWide(utf8);
}

WString bracketed(const std::string &id) { return CFiStringTool::toWide("<" + id + ">"); }

WString fallbackText(const std::string &id, const wchar_t *fallback) {
    return fallback != nullptr ? WString(fallback) : bracketed(id);
}

} // namespace

// ---------------------------------------------------------------------------
// CFiMessageCatalog / CFiIcuMessageCatalog

CFiMessageCatalog::~CFiMessageCatalog() = default;

struct CFiIcuMessageCatalog::Impl {
    std::mutex lock;
    std::unique_ptr<icu::ResourceBundle> bundle;
};

CFiIcuMessageCatalog::CFiIcuMessageCatalog(const std::string &locale, const WString &providerName)
    : m_locale(locale), m_providerName(providerName), m_impl(new Impl) {}

CFiIcuMessageCatalog::~CFiIcuMessageCatalog() { delete m_impl; }

int CFiIcuMessageCatalog::init() {
    WString dir;
    WString file;
    if (CFiConfigurationPathTool::getMessageFileInfo(m_providerName, dir, file) != 0) return 3;
    WString path = dir;
    if (!path.empty() && path[path.length() - 1] != L'/' && path[path.length() - 1] != L'\\') path += L"/";
    path += file;

    UErrorCode status = U_ZERO_ERROR;
    // The narrow (UTF-8) path: ICU's wide-path form only takes invariant characters.
    std::unique_ptr<icu::ResourceBundle> bundle(new icu::ResourceBundle(
        CFiStringTool::toNarrow(path).c_str(), icu::Locale(m_locale.c_str()), status));
    std::lock_guard<std::mutex> g(m_impl->lock);
    m_bundlePath = path;
    // The root bundle standing in for a missing locale is accepted; a parent
    // locale standing in (fallback) is not.
    if (status != U_ZERO_ERROR && status != U_USING_DEFAULT_WARNING) {
        m_impl->bundle.reset();
        return 3;
    }
    m_impl->bundle = std::move(bundle);
    return 0;
}

WString CFiIcuMessageCatalog::getMessage(const std::string &id, const wchar_t *fallback) {
    {
        std::lock_guard<std::mutex> g(m_impl->lock);
        if (m_impl->bundle) {
            UErrorCode status = U_ZERO_ERROR;
            icu::UnicodeString text = m_impl->bundle->getStringEx(id.c_str(), status);
            if (U_SUCCESS(status)) {
                WString result = m_providerName;
                result += L": ";
                result += fromUnicode(text);
                return result;
            }
        }
    }
    if (fallback != nullptr) return WString(fallback);
    WString result = m_providerName;
    result += L": ";
    result += bracketed(id);
    return result;
}

// ---------------------------------------------------------------------------
// Factories

CFiMessageCatalogFactory::CFiMessageCatalogFactory(const std::string &defaultCatalog, const WString &providerName)
    : m_defaultCatalog(defaultCatalog), m_providerName(providerName) {}

CFiMessageCatalogFactory::~CFiMessageCatalogFactory() = default;

std::string CFiMessageCatalogFactory::defaultCatalogName() const { return m_defaultCatalog; }

CFiIcuMessageCatalogFactory::CFiIcuMessageCatalogFactory(const std::string &defaultCatalog,
                                                         const WString &providerName)
    : CFiMessageCatalogFactory(defaultCatalog, providerName) {}

CFiMessageCatalogPtr CFiIcuMessageCatalogFactory::createCatalog(const char *name) {
    return CFiMessageCatalogPtr(new CFiIcuMessageCatalog(name != nullptr ? name : "root", m_providerName));
}

CFiMessagePtr CFiIcuMessageCatalogFactory::createMessage(const kel_msg_info *info) {
    return CFiMessagePtr(new CFiIcuMessage(info));
}

// ---------------------------------------------------------------------------
// CFiMessageCatalogManager

namespace {

// One localized text handed to the framework. The framework keeps the
// pointer, so a stored text never moves or changes; handing out the same
// text again counts up, and each delete counts down.
struct StoredText {
    WString text;
    int handedOut = 0;
};

} // namespace

struct CFiMessageCatalogManager::Impl {
    std::mutex lock;
    // Shared so a lookup in progress keeps the factory alive across a re-registration.
    std::shared_ptr<CFiMessageCatalogFactory> factory;
    std::map<std::string, CFiMessageCatalogPtr> catalogs;
    std::map<std::string, std::list<StoredText>> store;
    // Every native language ever set, the current one last: pointers handed
    // out by getNativeLanguage stay valid.
    std::list<std::string> nativeLanguages;

    std::shared_ptr<CFiMessageCatalogFactory> currentFactory() {
        std::lock_guard<std::mutex> g(lock);
        return factory;
    }

    CFiMessageCatalogPtr activeCatalog(const std::string &name) {
        std::lock_guard<std::mutex> g(lock);
        auto it = catalogs.find(name);
        return it != catalogs.end() ? it->second : CFiMessageCatalogPtr();
    }

    // The active catalog of that name, activating it first when needed.
    // Opening a bundle happens without the lock held.
    CFiMessageCatalogPtr activate(const std::string &name) {
        std::shared_ptr<CFiMessageCatalogFactory> f;
        {
            std::lock_guard<std::mutex> g(lock);
            if (!factory) return CFiMessageCatalogPtr();
            auto it = catalogs.find(name);
            if (it != catalogs.end()) return it->second;
            f = factory;
        }
        CFiMessageCatalogPtr catalog = f->createCatalog(name.c_str());
        if (catalog.isNull() || catalog->init() != 0) return CFiMessageCatalogPtr();
        std::lock_guard<std::mutex> g(lock);
        // Another thread may have activated it meanwhile; keep the first.
        return catalogs.emplace(name, catalog).first->second;
    }

    std::string resolveLanguage(const char *language) {
        if (language == nullptr) return std::string();
        if (std::strcmp(language, kNativeLanguage) != 0) return language;
        std::lock_guard<std::mutex> g(lock);
        return nativeLanguages.empty() ? std::string() : nativeLanguages.back();
    }

    wchar_t *storeText(const std::string &key, const WString &text) {
        std::lock_guard<std::mutex> g(lock);
        std::list<StoredText> &texts = store[key];
        for (StoredText &s : texts) {
            if (s.text == text) {
                ++s.handedOut;
                return const_cast<wchar_t *>(s.text.c_str());
            }
        }
        texts.push_back(StoredText{text, 1});
        return const_cast<wchar_t *>(texts.back().text.c_str());
    }
};

CFiMessageCatalogManager::CFiMessageCatalogManager() : m_impl(new Impl) {}

CFiMessageCatalogManager::~CFiMessageCatalogManager() { delete m_impl; }

void CFiMessageCatalogManager::registerFactory(CFiMessageCatalogFactory *factory) {
    std::shared_ptr<CFiMessageCatalogFactory> f(factory);
    {
        std::lock_guard<std::mutex> g(m_impl->lock);
        m_impl->factory = f;
    }
    if (f) activateCatalog(f->defaultCatalogName());
}

void CFiMessageCatalogManager::activateCatalog(const std::string &name) { m_impl->activate(name); }

WString CFiMessageCatalogManager::getMessage(const std::string &id, const wchar_t *fallback,
                                             const std::string &language) {
    std::shared_ptr<CFiMessageCatalogFactory> f = m_impl->currentFactory();
    if (!f) return fallbackText(id, fallback);
    const std::string defaultName = f->defaultCatalogName();
    const std::string name = language.empty() ? defaultName : language;
    CFiMessageCatalogPtr catalog = m_impl->activate(name);
    if (catalog.isNull() && name != defaultName) catalog = m_impl->activeCatalog(defaultName);
    if (catalog.isNull()) return fallbackText(id, fallback);
    return catalog->getMessage(id, fallback);
}

WString CFiMessageCatalogManager::getLocalizedMessage(const CFiMessagePtr &message, const char *language) {
    if (message.isNull()) return WString();
    WString pattern = getMessage(message->messageId(), nullptr, m_impl->resolveLanguage(language));
    return message->formatMessage(pattern);
}

void CFiMessageCatalogManager::getLocalizedMessage(const char *id, const char *language, wchar_t **out) {
    if (out == nullptr) return;
    if (id == nullptr) {
        *out = nullptr;
        return;
    }
    WString text = getMessage(id, nullptr, m_impl->resolveLanguage(language));
    *out = m_impl->storeText(id, text);
}

void CFiMessageCatalogManager::getLocalizedMessage(const kel_msg_info *info, const char *language, wchar_t **out) {
    if (out == nullptr) return;
    std::shared_ptr<CFiMessageCatalogFactory> f = m_impl->currentFactory();
    CFiMessagePtr message = f ? f->createMessage(info) : CFiMessagePtr(new CFiIcuMessage(info));
    if (message.isNull()) {
        *out = nullptr;
        return;
    }
    WString text = getLocalizedMessage(message, language);
    std::string key;
    if (info != nullptr && info->text != nullptr) key.assign(info->text, strnlen(info->text, info->length));
    *out = m_impl->storeText(key, text);
}

void CFiMessageCatalogManager::deleteLocalizedMessage(wchar_t **text) {
    if (text == nullptr || *text == nullptr) return;
    const wchar_t *wanted = *text;
    std::lock_guard<std::mutex> g(m_impl->lock);
    auto &store = m_impl->store;
    // The very text handed out first; failing that, the first equal one.
    for (int pass = 0; pass < 2; ++pass) {
        for (auto it = store.begin(); it != store.end(); ++it) {
            std::list<StoredText> &texts = it->second;
            for (auto s = texts.begin(); s != texts.end(); ++s) {
                bool match = pass == 0 ? s->text.c_str() == wanted : std::wcscmp(s->text.c_str(), wanted) == 0;
                if (!match) continue;
                if (--s->handedOut <= 0) {
                    texts.erase(s);
                    if (texts.empty()) store.erase(it);
                }
                return;
            }
        }
    }
}

void CFiMessageCatalogManager::setNativeLanguage(const char *language) {
    std::string value = language != nullptr ? language : "";
    std::lock_guard<std::mutex> g(m_impl->lock);
    if (m_impl->nativeLanguages.empty() || m_impl->nativeLanguages.back() != value)
        m_impl->nativeLanguages.push_back(value);
}

const char *CFiMessageCatalogManager::getNativeLanguage() {
    std::lock_guard<std::mutex> g(m_impl->lock);
    return m_impl->nativeLanguages.empty() ? "" : m_impl->nativeLanguages.back().c_str();
}

} // namespace kelm_pdk_4_4

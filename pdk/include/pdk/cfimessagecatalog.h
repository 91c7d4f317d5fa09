// Localized message texts from ICU resource bundles.
#ifndef PDK_CFIMESSAGECATALOG_H
#define PDK_CFIMESSAGECATALOG_H

#include "kelm/kel_types.h"
#include "pdk/cfibase.h"
#include "pdk/cfierror.h"

#include <string>

namespace kelm_pdk_4_4 {

class CFiMessageCatalog : public virtual CFiRefCount {
public:
    ~CFiMessageCatalog() override;
    virtual int init() = 0;
    virtual WString getMessage(const std::string &id, const wchar_t *fallback) = 0;
};
using CFiMessageCatalogPtr = CFiSmartPtr<CFiMessageCatalog, CFiNullAllocator>;

class CFiIcuMessageCatalog : public CFiMessageCatalog {
public:
    CFiIcuMessageCatalog(const std::string &locale, const WString &providerName);
    ~CFiIcuMessageCatalog() override;
    int init() override;
    WString getMessage(const std::string &id, const wchar_t *fallback) override;

private:
    struct Impl;
    std::string m_locale;
    WString m_bundlePath;
    WString m_providerName;
    Impl *m_impl; // holds the ResourceBundle, null until init succeeds
};

class CFiMessageCatalogFactory {
public:
    CFiMessageCatalogFactory(const std::string &defaultCatalog, const WString &providerName);
    virtual ~CFiMessageCatalogFactory();
    virtual CFiMessageCatalogPtr createCatalog(const char *name) = 0;
    virtual CFiMessagePtr createMessage(const kel_msg_info *info) = 0;
    virtual std::string defaultCatalogName() const;

protected:
    std::string m_defaultCatalog;
    WString m_providerName;
};

class CFiIcuMessageCatalogFactory : public CFiMessageCatalogFactory {
public:
    CFiIcuMessageCatalogFactory(const std::string &defaultCatalog, const WString &providerName);
    CFiMessageCatalogPtr createCatalog(const char *name) override;
    CFiMessagePtr createMessage(const kel_msg_info *info) override;
};

// Singleton: active catalogs by name, the registered factory (owned), the
// store of localized texts handed to the framework, the native language.
class CFiMessageCatalogManager : public virtual CFiRefCount {
public:
    CFiMessageCatalogManager();
    ~CFiMessageCatalogManager() override;

    // Takes ownership; activates the factory's default catalog.
    void registerFactory(CFiMessageCatalogFactory *factory);
    void activateCatalog(const std::string &name);
    WString getMessage(const std::string &id, const wchar_t *fallback, const std::string &language);
    WString getLocalizedMessage(const CFiMessagePtr &message, const char *language);
    void getLocalizedMessage(const char *id, const char *language, wchar_t **out);
    void getLocalizedMessage(const kel_msg_info *info, const char *language, wchar_t **out);
    void deleteLocalizedMessage(wchar_t **text);
    void setNativeLanguage(const char *language);
    // Valid until the next setNativeLanguage.
    const char *getNativeLanguage();

private:
    struct Impl;
    Impl *m_impl;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFIMESSAGECATALOG_H

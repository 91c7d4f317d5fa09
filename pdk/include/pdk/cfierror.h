// Errors and messages of the kit: the CFiError exception, message objects
// with their serialised form, the per-thread last error and the handlers that
// forward messages to the framework.
#ifndef PDK_CFIERROR_H
#define PDK_CFIERROR_H

#include "kelm/kel_types.h"
#include "pdk/cfibase.h"

#include <unicode/fmtable.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kelm_pdk_4_4 {

// The kit's exception type; thrown by value, caught by reference.
class CFiError {
public:
    CFiError(int32_t code, const WString &text, const WString &file, int32_t line, const WString &function);
    virtual ~CFiError();
    // "MSG_ERROR_" + upper-cased provider + "_" + "%04d" of the code, the code
    // first reduced by offset when it is greater than offset.
    virtual std::string messageId(const WString &providerName, long offset) const;
    virtual const WString text() const;

    int32_t code() const { return m_code; }
    const WString &file() const { return m_file; }
    int32_t line() const { return m_line; }
    const WString &function() const { return m_function; }

    static std::string messageIdFor(int32_t code, const WString &providerName, long offset);

private:
    int32_t m_code;
    WString m_text;
    WString m_file;
    int32_t m_line;
    WString m_function;
};

class CFiMessage : public virtual CFiRefCount {
public:
    CFiMessage() = default;
    CFiMessage(const std::string &id, kel_eseverity severity, const std::string &file, int32_t line);
    ~CFiMessage() override;

    // The record is valid while the message lives.
    virtual const kel_msg_info *serialize() = 0;
    virtual void deserialize(const kel_msg_info *info) = 0;
    // The severity as the enum holds it: a number outside 0-4 read from a
    // peer's text gives KEL_SEV_NONE here.
    virtual kel_eseverity severity() const { return toEnum(m_severity); }
    virtual int32_t sourceLine() const { return m_line; }
    virtual std::string sourceFile() const { return m_file; }
    virtual std::string messageId() const { return m_id; }
    virtual WString formatMessage(const WString &pattern) = 0;
    // The severity number as given or read, whatever its value: what the
    // serialised text and the framework's callback carry.
    virtual int32_t severityNumber() const { return m_severity; }

protected:
    static kel_eseverity toEnum(int32_t v) {
        return (v >= KEL_SEV_NONE && v <= KEL_SEV_DEBUG) ? static_cast<kel_eseverity>(v) : KEL_SEV_NONE;
    }

    std::string m_id;
    int32_t m_severity = KEL_SEV_NONE;
    std::string m_file;
    int32_t m_line = 0;
};
using CFiMessagePtr = CFiSmartPtr<CFiMessage, CFiNullAllocator>;

class CFiIcuMessage : public CFiMessage {
public:
    CFiIcuMessage(const std::string &id, const icu::Formattable *args, int32_t count, kel_eseverity severity,
                  const std::string &file, int32_t line);
    explicit CFiIcuMessage(const kel_msg_info *info);
    ~CFiIcuMessage() override;

    // The record and its text stay valid while the message lives; a later
    // call that produces the same text keeps them in place.
    const kel_msg_info *serialize() override;
    // Reads at most info->length bytes, stopping at a terminator. Malformed
    // text gives an empty or partial message, never an error.
    void deserialize(const kel_msg_info *info) override;
    kel_eseverity severity() const override;
    int32_t severityNumber() const override;
    std::string messageId() const override;
    WString formatMessage(const WString &pattern) override;

    // The arguments, in order.
    std::vector<icu::Formattable> arguments() const;

    // Longest message identifier the reader keeps.
    static constexpr size_t kMaxIdLength = 1024;

private:
    void readSerialized(const char *text, size_t length);

    // Guards the arguments and the serialised text: a message may be
    // serialised and formatted by several threads (handlers, last error).
    mutable std::mutex m_lock;
    icu::Formattable m_args; // an array of Formattables
    kel_msg_info m_info{};
    std::string m_serialized;
};

class CFiErrorHandlerBase {
public:
    virtual ~CFiErrorHandlerBase();
    virtual int handleText(const std::string &text, kel_eseverity severity);
    virtual int handleMessage(const CFiMessagePtr &message) = 0;
};

class CFiMessageCatalogManager;
using CFiMessageCatalogManagerPtr = CFiSmartPtr<CFiMessageCatalogManager, CFiContextSingletonAllocator>;

// Forwards texts and messages to the framework's error callback.
class CFiErrorHandler : public CFiErrorHandlerBase {
public:
    CFiErrorHandler(kel_pgn_init *init, const CFiMessageCatalogManagerPtr &catalogs);
    ~CFiErrorHandler() override;
    int handleText(const std::string &text, kel_eseverity severity) override;
    int handleMessage(const CFiMessagePtr &message) override;

private:
    kel_pgn_init *m_init;
    std::string m_nativeLanguage;
    CFiMessageCatalogManagerPtr m_catalogs;
};

// Singleton: last error per thread, and the handlers messages go to.
class CFiErrorManager : public virtual CFiRefCount {
public:
    CFiErrorManager();
    ~CFiErrorManager() override;

    // Handlers are not owned; they must outlive the manager or be removed.
    // Handlers are called without the manager's lock held, so a handler may
    // trace or push errors itself.
    void registerHandler(CFiErrorHandlerBase *handler);
    // Returns once no other thread is still inside a call of the handler, so
    // the caller may delete it afterwards.
    void unregisterHandler(CFiErrorHandlerBase *handler);
    void pushError(const std::string &text, kel_eseverity severity);
    void pushError(const CFiMessagePtr &message);
    const kel_msg_info *getLastError();
    void deleteLastError(kel_msg_info **unused);
    // The calling thread's last message, or an empty pointer.
    CFiMessagePtr lastMessage();

private:
    struct Impl;
    Impl *m_impl;
};
using CFiErrorManagerPtr = CFiSmartPtr<CFiErrorManager, CFiContextSingletonAllocator>;

// Builds a CFiIcuMessage from an identifier and arguments and pushes it.
// Never throws (it runs inside exception handlers); an empty manager does
// nothing.
void pushMessage(const CFiErrorManagerPtr &errors, const std::string &id,
                 const std::vector<icu::Formattable> &args, kel_eseverity severity, const std::string &file,
                 int32_t line);

} // namespace kelm_pdk_4_4

#endif // PDK_CFIERROR_H

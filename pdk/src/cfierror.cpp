#include "pdk/cfierror.h"

#include "pdk/cfistringtool.h"

#include <cstdio>

namespace kelm_pdk_4_4 {

CFiError::CFiError(int32_t code, const WString &text, const WString &file, int32_t line, const WString &function)
    : m_code(code), m_text(text), m_file(file), m_line(line), m_function(function) {}

CFiError::~CFiError() = default;

std::string CFiError::messageId(const WString &providerName, long offset) const {
    return messageIdFor(m_code, providerName, offset);
}

const WString CFiError::text() const { return m_text; }

std::string CFiError::messageIdFor(int32_t code, const WString &providerName, long offset) {
    // Codes above the offset are the provider's own range mapped onto the
    // common one: 6005 and 5 name the same message.
    long number = code;
    if (number > offset) number -= offset;
    char digits[32];
    std::snprintf(digits, sizeof digits, "%04ld", number);
    return "MSG_ERROR_" + CFiStringTool::toUpper(CFiStringTool::toNarrow(providerName)) + "_" + digits;
}

void pushMessage(const CFiErrorManagerPtr &errors, const std::string &id, const std::vector<icu::Formattable> &args,
                 kel_eseverity severity, const std::string &file, int32_t line) {
    if (errors.isNull()) return;
    try {
        CFiMessagePtr message(new CFiIcuMessage(id, args.empty() ? nullptr : args.data(),
                                                static_cast<int32_t>(args.size()), severity, file, line));
        errors->pushError(message);
    } catch (...) {
        // Called from exception handlers: losing the report beats escaping them.
    }
}

} // namespace kelm_pdk_4_4

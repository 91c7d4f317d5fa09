#include "device_guard.h"

#include "pdk/cfistringtool.h"

#include <unicode/unistr.h>

#include <vector>

using kelm_pdk_4_4::CFiErrorManagerPtr;
using kelm_pdk_4_4::CFiStringTool;

const char *const kDevicePluginSourceFile = "providers\\device\\device_plugin";

const char *const kMsgUnhandledExecPipe = "MSG_ERROR_UNHANDLED_EXEC_PIPE_EXCEPTION";
const char *const kMsgUnhandledFiError = "MSG_ERROR_UNHANDLED_FIERROR_EXCEPTION";
const char *const kMsgUdidParsing = "MSG_ERROR_UDID_PARSING_EXCEPTION";
const char *const kMsgUnhandledRuntime = "MSG_ERROR_UNHANDLED_RUNTIME_EXCEPTION";
const char *const kMsgUnhandledInt = "MSG_ERROR_UNHANDLED_INT_EXCEPTION";
const char *const kMsgInitializationFailed = "MSG_ERROR_INITIALIZATION_FAILED";

namespace {

icu::Formattable text(const std::string &utf8) { return icu::Formattable(icu::UnicodeString::fromUTF8(utf8)); }
icu::Formattable text(const std::wstring &wide) { return text(CFiStringTool::toNarrow(wide)); }
icu::Formattable text(const kelm_pdk_4_4::WString &wide) { return text(CFiStringTool::toNarrow(wide)); }
icu::Formattable number(int32_t value) { return icu::Formattable(value); }

void push(const CFiErrorManagerPtr &errors, const char *id, const std::vector<icu::Formattable> &args,
          kel_eseverity severity, int32_t line) {
    if (errors.isNull()) return;
    kelm_pdk_4_4::pushMessage(errors, id, args, severity, kDevicePluginSourceFile, line);
}

} // namespace

void reportExecPipeException(const CFiErrorManagerPtr &errors, const kelm_pdk_4_4::EFiExecPipe &e, int32_t line) {
    push(errors, kMsgUnhandledExecPipe,
         {text(std::string(e.statusName())), text(e.text()), text(std::string(kDevicePluginSourceFile)), number(line)},
         KEL_SEV_ERROR, line);
}

void reportFiErrorException(const CFiErrorManagerPtr &errors, const kelm_pdk_4_4::CFiError &e, int32_t line) {
    push(errors, kMsgUnhandledFiError, {text(e.text()), text(e.function()), text(e.file()), number(e.line())},
         KEL_SEV_ERROR, line);
}

void reportUdidException(const CFiErrorManagerPtr &errors, const kelm_pdk_4_4::CFiUdidException &e, int32_t line) {
    push(errors, kMsgUdidParsing, {text(e.text()), number(static_cast<int32_t>(e.code()))}, KEL_SEV_ERROR, line);
}

void reportRuntimeException(const CFiErrorManagerPtr &errors, const std::runtime_error &e, int32_t line) {
    push(errors, kMsgUnhandledRuntime,
         {text(std::string("std::runtime_error")), text(std::string(e.what())),
          text(std::string(kDevicePluginSourceFile)), number(line)},
         KEL_SEV_ERROR, line);
}

void reportIntException(const CFiErrorManagerPtr &errors, int value, int32_t line) {
    push(errors, kMsgUnhandledInt, {number(value), text(std::string(kDevicePluginSourceFile)), number(line)},
         KEL_SEV_ERROR, line);
}

void reportInitializationFailed(const CFiErrorManagerPtr &errors, int32_t line) {
    push(errors, kMsgInitializationFailed, {}, KEL_SEV_WARNING, line);
}

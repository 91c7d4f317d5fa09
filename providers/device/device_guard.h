// The exception guard of the provider's operations.
//
// A provider operation runs its body through guardedCall(). What the body
// throws is caught by five handlers, in this order: EFiExecPipe, CFiError,
// CFiUdidException, std::runtime_error, int. Each turns the exception into a
// CFiIcuMessage (severity 3, source file "providers\device\device_plugin",
// the line the operation gives for its handlers), pushes it to the error
// manager and the operation returns its failure status. Anything else passes
// to the caller, so an operation can put handlers of its own before the five
// (inside the body) or after them (around the call):
//
//     try {
//         return guardedCall(m_errorManager, kReserveGuardLine, [&] {
//             try { return body(); } catch (const CPGRException &e) { ... }
//         }, 1098);
//     } catch (...) { ... }
//
// Line numbers: each guarded operation names its handlers' source line with
// a constant of its own (init uses 99, delayedInit 112); the line is a
// message argument the framework shows, not this file's line.
#ifndef PROVIDERS_DEVICE_DEVICE_GUARD_H
#define PROVIDERS_DEVICE_DEVICE_GUARD_H

#include "pdk/cfierror.h"
#include "pdk/cfiexecpipe.h"
#include "pdk/cfiudid.h"

#include <cstdint>
#include <stdexcept>
#include <string>

// The source file named by the guard's messages.
extern const char *const kDevicePluginSourceFile;

// Message identifiers of the guard and of the initialisation follow-up.
extern const char *const kMsgUnhandledExecPipe;
extern const char *const kMsgUnhandledFiError;
extern const char *const kMsgUdidParsing;
extern const char *const kMsgUnhandledRuntime;
extern const char *const kMsgUnhandledInt;
extern const char *const kMsgInitializationFailed;

// One report per handler. Each pushes its message to errors (nothing when
// errors is empty, as before the managers are registered).
void reportExecPipeException(const kelm_pdk_4_4::CFiErrorManagerPtr &errors, const kelm_pdk_4_4::EFiExecPipe &e,
                             int32_t line);
void reportFiErrorException(const kelm_pdk_4_4::CFiErrorManagerPtr &errors, const kelm_pdk_4_4::CFiError &e,
                            int32_t line);
void reportUdidException(const kelm_pdk_4_4::CFiErrorManagerPtr &errors,
                         const kelm_pdk_4_4::CFiUdidException &e, int32_t line);
void reportRuntimeException(const kelm_pdk_4_4::CFiErrorManagerPtr &errors, const std::runtime_error &e,
                            int32_t line);
void reportIntException(const kelm_pdk_4_4::CFiErrorManagerPtr &errors, int value, int32_t line);

// Pushes "MSG_ERROR_INITIALIZATION_FAILED" (no arguments, severity 2).
void reportInitializationFailed(const kelm_pdk_4_4::CFiErrorManagerPtr &errors, int32_t line);

// Runs body() (returning int) inside the five handlers. Returns body's result,
// or failureStatus when a handler caught; *caught (when given) says which.
template <class Body>
int guardedCall(const kelm_pdk_4_4::CFiErrorManagerPtr &errors, int32_t line, Body &&body, int failureStatus,
                bool *caught = nullptr) {
    if (caught != nullptr) *caught = false;
    try {
        return body();
    } catch (const kelm_pdk_4_4::EFiExecPipe &e) {
        reportExecPipeException(errors, e, line);
    } catch (const kelm_pdk_4_4::CFiError &e) {
        reportFiErrorException(errors, e, line);
    } catch (const kelm_pdk_4_4::CFiUdidException &e) {
        reportUdidException(errors, e, line);
    } catch (const std::runtime_error &e) {
        reportRuntimeException(errors, e, line);
    } catch (int value) {
        reportIntException(errors, value, line);
    }
    if (caught != nullptr) *caught = true;
    return failureStatus;
}

// The guard of init and delayedInit: the five handlers at guardLine, then the
// follow-up "MSG_ERROR_INITIALIZATION_FAILED" at failedLine and status 29.
template <class Body>
int guardedInitCall(const kelm_pdk_4_4::CFiErrorManagerPtr &errors, int32_t guardLine, int32_t failedLine,
                    Body &&body) {
    bool caught = false;
    int rc = guardedCall(errors, guardLine, static_cast<Body &&>(body), KEL_EINITFAILED, &caught);
    if (caught) reportInitializationFailed(errors, failedLine);
    return rc;
}

#endif // PROVIDERS_DEVICE_DEVICE_GUARD_H

// Holder of the trace log for the reservation classes. The provider obtains
// it as a process-wide singleton at init and gives it its trace log; the
// reserve and release flows hand that log to the command objects they make.
#ifndef PROVIDERS_DEVICE_PGR_PGRLOGMANAGER_H
#define PROVIDERS_DEVICE_PGR_PGRLOGMANAGER_H

#include "pdk/cfibase.h"

#include <ace/Thread_Mutex.h>

class CPGRLogManager : public virtual kelm_pdk_4_4::CFiRefCount {
public:
    CPGRLogManager() = default;
    ~CPGRLogManager() override = default;

    // Both may be called from any thread.
    void setTraceLog(const kelm_pdk_4_4::CFiTraceLogPtr &log);
    kelm_pdk_4_4::CFiTraceLogPtr getTraceLog() const;

private:
    mutable ACE_Thread_Mutex m_mutex;
    kelm_pdk_4_4::CFiTraceLogPtr m_traceLog;
};

using CPGRLogManagerPtr = kelm_pdk_4_4::CFiSmartPtr<CPGRLogManager, kelm_pdk_4_4::CFiContextSingletonAllocator>;
using CPGRLogManagerSingleton = kelm_pdk_4_4::CFiSingleton<CPGRLogManager>;

#endif // PROVIDERS_DEVICE_PGR_PGRLOGMANAGER_H

#include "pgr/pgrlogmanager.h"

#include "pdk/cfitracelog.h"

using kelm_pdk_4_4::CFiTraceLogPtr;

void CPGRLogManager::setTraceLog(const CFiTraceLogPtr &log) {
    CFiTraceLogPtr old;
    {
        ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
        old = m_traceLog;
        m_traceLog = log;
    }
    // old drops its reference here, outside the lock: the log's destructor
    // must not run under it.
}

CFiTraceLogPtr CPGRLogManager::getTraceLog() const {
    ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
    return m_traceLog;
}

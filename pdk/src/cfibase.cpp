#include "pdk/cfibase.h"

#include "pdk/cfitracelog.h"

#include <cstdarg>

namespace kelm_pdk_4_4 {

long CFiRefCount::addRef() {
    ACE_Guard<ACE_Thread_Mutex> g(m_countMutex);
    return ++m_count;
}

long CFiRefCount::releaseRef() {
    ACE_Guard<ACE_Thread_Mutex> g(m_countMutex);
    return --m_count;
}

long CFiRefCount::getCount() const {
    ACE_Guard<ACE_Thread_Mutex> g(m_countMutex);
    return m_count;
}

CFiTraceable::CFiTraceable() = default;
CFiTraceable::~CFiTraceable() = default;

void CFiTraceable::setTraceLog(const CFiTraceLogPtr &log) { m_traceLog = log; }

void CFiTraceable::trace(int level, const char *format, ...) const {
    CFiTraceLogPtr log = m_traceLog;
    if (log.isNull()) return;
    va_list ap;
    va_start(ap, format);
    log->vtrace(level, format, ap);
    va_end(ap);
}

} // namespace kelm_pdk_4_4

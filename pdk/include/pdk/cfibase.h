// Core of the framework kit: wide strings, reference counting, smart pointers,
// singleton holders, scoped locks and the traceable base.
#ifndef PDK_CFIBASE_H
#define PDK_CFIBASE_H

#include <ace/Guard_T.h>
#include <ace/Recursive_Thread_Mutex.h>
#include <ace/SString.h>
#include <ace/Thread_Mutex.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

namespace kelm_pdk_4_4 {

// The kit's wide string type.
using WString = ACE_String_Base<wchar_t>;

// Base of every shared kit object. The count has its own mutex.
class CFiRefCount {
public:
    CFiRefCount() = default;
    CFiRefCount(const CFiRefCount &) : m_count(0) {}
    CFiRefCount &operator=(const CFiRefCount &) { return *this; }
    virtual ~CFiRefCount() = default;

    virtual long addRef();
    virtual long releaseRef();
    virtual long getCount() const;

    ACE_Thread_Mutex &countMutex() const { return m_countMutex; }

private:
    int32_t m_count = 0;
    mutable ACE_Thread_Mutex m_countMutex;
};

// Allocator policies. The singleton policy knows how to make the object.
struct CFiNullAllocator {
    template <class T>
    static T *create() { return nullptr; }
};
struct CFiContextSingletonAllocator {
    template <class T>
    static T *create() { return new T(); }
};

// Holds one reference to a T that has CFiRefCount as a (virtual) base.
template <class T, class Alloc = CFiNullAllocator>
class CFiSmartPtr {
public:
    CFiSmartPtr() = default;
    // Takes a new reference to p (p may be null).
    explicit CFiSmartPtr(T *p) : m_p(p) { acquire(); }
    CFiSmartPtr(const CFiSmartPtr &o) : m_p(o.m_p) { acquire(); }
    CFiSmartPtr(CFiSmartPtr &&o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
    template <class U, class A2>
    CFiSmartPtr(const CFiSmartPtr<U, A2> &o) : m_p(o.get()) { acquire(); }
    ~CFiSmartPtr() { drop(); }

    CFiSmartPtr &operator=(const CFiSmartPtr &o) {
        if (this != &o) {
            T *old = m_p;
            m_p = o.m_p;
            acquire();
            dropPtr(old);
        }
        return *this;
    }
    CFiSmartPtr &operator=(CFiSmartPtr &&o) noexcept {
        if (this != &o) {
            T *old = m_p;
            m_p = o.m_p;
            o.m_p = nullptr;
            dropPtr(old);
        }
        return *this;
    }

    T *get() const { return m_p; }
    T *operator->() const { return m_p; }
    T &operator*() const { return *m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    bool isNull() const { return m_p == nullptr; }
    void reset() { drop(); }

private:
    void acquire() {
        if (m_p != nullptr) static_cast<CFiRefCount *>(m_p)->addRef();
    }
    void drop() {
        T *old = m_p;
        m_p = nullptr;
        dropPtr(old);
    }
    static void dropPtr(T *p) {
        if (p != nullptr && static_cast<CFiRefCount *>(p)->releaseRef() == 0) delete p;
    }
    T *m_p = nullptr;
};

// Whether the library's static objects are being destroyed (process exit or
// unload): set when the first singleton holder goes. Code that may be called
// from a late exit handler checks it before it touches any shared object.
// Trivially destructible, so it stays readable to the very end.
inline std::atomic<bool> &cfiStaticsGone() {
    static std::atomic<bool> gone{false};
    return gone;
}

// Process-wide singleton holder: one static pointer and one mutex per type.
//   instance(false): the object, created on first use.
//   instance(true):  drops the holder's reference and returns an empty pointer.
// The released object is deleted after the holder's mutex is let go, so a
// destructor that asks for a singleton (its own type included) cannot
// deadlock. After the holder itself is destroyed at process exit, instance()
// returns an empty pointer instead of touching the destroyed mutex.
template <class T>
class CFiSingleton {
public:
    using Ptr = CFiSmartPtr<T, CFiContextSingletonAllocator>;
    static Ptr instance(bool release = false) {
        if (holderGone().load(std::memory_order_acquire)) return Ptr();
        State &s = state();
        Ptr dropped; // destroyed after the guard below is released
        Ptr result;
        {
            ACE_Guard<ACE_Thread_Mutex> g(s.mutex);
            if (release) {
                dropped = std::move(s.ptr);
            } else {
                if (s.ptr.isNull()) s.ptr = Ptr(CFiContextSingletonAllocator::create<T>());
                result = s.ptr;
            }
        }
        return result;
    }

private:
    struct State {
        ACE_Thread_Mutex mutex;
        Ptr ptr;
        ~State() {
            cfiStaticsGone().store(true, std::memory_order_release);
            holderGone().store(true, std::memory_order_release);
        }
    };
    static State &state() {
        static State s;
        return s;
    }
    // Trivially destructible, so it stays readable during static destruction.
    static std::atomic<bool> &holderGone() {
        static std::atomic<bool> gone{false};
        return gone;
    }
};

// Scoped lock over an ACE recursive mutex.
class CFiMutexWrapper {
public:
    explicit CFiMutexWrapper(ACE_Recursive_Thread_Mutex &m) : m_mutex(m) { m_mutex.acquire(); }
    ~CFiMutexWrapper() { m_mutex.release(); }
    CFiMutexWrapper(const CFiMutexWrapper &) = delete;
    CFiMutexWrapper &operator=(const CFiMutexWrapper &) = delete;

private:
    ACE_Recursive_Thread_Mutex &m_mutex;
};

class CFiTraceLog;
using CFiTraceLogPtr = CFiSmartPtr<CFiTraceLog, CFiContextSingletonAllocator>;

// Base of every kit object that writes trace lines. An empty log makes
// tracing a no-op.
class CFiTraceable {
public:
    CFiTraceable();
    virtual ~CFiTraceable();
    virtual void setTraceLog(const CFiTraceLogPtr &log);
    const CFiTraceLogPtr &traceLog() const { return m_traceLog; }

protected:
    // Traces through the held log, if any.
    void trace(int level, const char *format, ...) const __attribute__((format(printf, 3, 4)));

    CFiTraceLogPtr m_traceLog;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFIBASE_H

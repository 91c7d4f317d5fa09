#include "pdk/cfierror.h"

#include "pdk/cfimessagecatalog.h"
#include "pdk/cfistringtool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace kelm_pdk_4_4 {

namespace {

// Last errors are keyed by a serial number given to each thread on first
// use. Unlike system thread ids it is never reused, so a new thread cannot
// inherit the last error of one that has ended.
std::atomic<uint64_t> g_nextThreadKey{1};

struct LastErrorTable {
    std::mutex lock;
    std::map<uint64_t, CFiMessagePtr> entries;
};

// Every live table, so a thread's entries can be dropped when it ends.
struct TableRegistry {
    std::mutex lock;
    std::set<LastErrorTable *> tables;
};

TableRegistry &registry() {
    // Never destroyed: threads may end after static destruction has begun.
    static TableRegistry *r = new TableRegistry;
    return *r;
}

// Trivially destructible, so a trace from another thread-local destructor
// late in a thread's exit still finds it.
thread_local uint64_t t_threadKey = 0;

uint64_t currentThreadKey() {
    if (t_threadKey == 0) t_threadKey = g_nextThreadKey.fetch_add(1);
    return t_threadKey;
}

// Drops the thread's last errors when it ends. Armed by the thread's first
// stored message only.
struct ThreadExitCleanup {
    bool armed = false;
    ~ThreadExitCleanup() {
        if (!armed) return;
        std::vector<CFiMessagePtr> dropped;
        TableRegistry &r = registry();
        std::lock_guard<std::mutex> g(r.lock);
        for (LastErrorTable *t : r.tables) {
            std::lock_guard<std::mutex> tg(t->lock);
            auto it = t->entries.find(t_threadKey);
            if (it != t->entries.end()) {
                dropped.push_back(std::move(it->second));
                t->entries.erase(it);
            }
        }
    }
};

thread_local ThreadExitCleanup t_exitCleanup;

// Dispatches this thread is inside, by manager and epoch (see below). Plain
// data for the same reason as the key; deeper nesting than this is runaway
// recursion of handlers and is not recorded.
struct DispatchStack {
    static const int kDepth = 16;
    std::pair<const void *, uint64_t> entries[kDepth];
    int depth = 0;
};
thread_local DispatchStack t_dispatching;

} // namespace

struct CFiErrorManager::Impl {
    LastErrorTable table;

    // Handler list. Calls run without the lock; each call is counted under
    // the epoch in which it started so that unregisterHandler can wait for
    // the calls that may still use a removed handler.
    std::mutex handlerLock;
    std::condition_variable handlerIdle;
    std::vector<CFiErrorHandlerBase *> handlers;
    uint64_t epoch = 0;
    std::map<uint64_t, int> inFlight;

    // Holds one dispatch open for the current thread.
    class Dispatch {
    public:
        explicit Dispatch(Impl &impl) : m_impl(impl) {
            std::lock_guard<std::mutex> g(impl.handlerLock);
            handlers = impl.handlers;
            m_epoch = impl.epoch;
            ++impl.inFlight[m_epoch];
            DispatchStack &st = t_dispatching;
            if (st.depth < DispatchStack::kDepth) st.entries[st.depth] = std::make_pair(&impl, m_epoch);
            ++st.depth;
        }
        ~Dispatch() {
            --t_dispatching.depth;
            std::lock_guard<std::mutex> g(m_impl.handlerLock);
            auto it = m_impl.inFlight.find(m_epoch);
            if (--it->second == 0) m_impl.inFlight.erase(it);
            m_impl.handlerIdle.notify_all();
        }
        std::vector<CFiErrorHandlerBase *> handlers;

    private:
        Impl &m_impl;
        uint64_t m_epoch = 0;
    };
};

CFiErrorManager::CFiErrorManager() : m_impl(new Impl) {
    TableRegistry &r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.tables.insert(&m_impl->table);
}

CFiErrorManager::~CFiErrorManager() {
    {
        TableRegistry &r = registry();
        std::lock_guard<std::mutex> g(r.lock);
        r.tables.erase(&m_impl->table);
    }
    delete m_impl;
}

void CFiErrorManager::registerHandler(CFiErrorHandlerBase *handler) {
    if (handler == nullptr) return;
    std::lock_guard<std::mutex> g(m_impl->handlerLock);
    m_impl->handlers.push_back(handler);
}

void CFiErrorManager::unregisterHandler(CFiErrorHandlerBase *handler) {
    std::unique_lock<std::mutex> g(m_impl->handlerLock);
    auto &list = m_impl->handlers;
    list.erase(std::remove(list.begin(), list.end(), handler), list.end());
    // Calls that started before now may still use the handler. Wait for
    // them, except those of this very thread (a handler removing itself).
    const uint64_t before = m_impl->epoch++;
    auto own = [&] {
        int n = 0;
        const DispatchStack &st = t_dispatching;
        for (int i = 0; i < st.depth && i < DispatchStack::kDepth; ++i)
            if (st.entries[i].first == m_impl && st.entries[i].second <= before) ++n;
        return n;
    };
    const int mine = own();
    m_impl->handlerIdle.wait(g, [&] {
        int pending = 0;
        for (const auto &e : m_impl->inFlight)
            if (e.first <= before) pending += e.second;
        return pending <= mine;
    });
}

void CFiErrorManager::pushError(const std::string &text, kel_eseverity severity) {
    Impl::Dispatch d(*m_impl);
    for (CFiErrorHandlerBase *h : d.handlers) h->handleText(text, severity);
}

void CFiErrorManager::pushError(const CFiMessagePtr &message) {
    if (message.isNull()) return;
    CFiMessagePtr previous;
    {
        t_exitCleanup.armed = true;
        std::lock_guard<std::mutex> g(m_impl->table.lock);
        CFiMessagePtr &slot = m_impl->table.entries[currentThreadKey()];
        previous = std::move(slot);
        slot = message;
    }
    previous.reset();
    Impl::Dispatch d(*m_impl);
    for (CFiErrorHandlerBase *h : d.handlers) h->handleMessage(message);
}

CFiMessagePtr CFiErrorManager::lastMessage() {
    std::lock_guard<std::mutex> g(m_impl->table.lock);
    auto it = m_impl->table.entries.find(currentThreadKey());
    return it != m_impl->table.entries.end() ? it->second : CFiMessagePtr();
}

const kel_msg_info *CFiErrorManager::getLastError() {
    // The table keeps its own reference, so the record outlives this copy.
    CFiMessagePtr message = lastMessage();
    return message.isNull() ? nullptr : message->serialize();
}

void CFiErrorManager::deleteLastError(kel_msg_info ** /*unused*/) {
    CFiMessagePtr dropped;
    std::lock_guard<std::mutex> g(m_impl->table.lock);
    auto it = m_impl->table.entries.find(currentThreadKey());
    if (it == m_impl->table.entries.end()) return;
    dropped = std::move(it->second);
    m_impl->table.entries.erase(it);
}

CFiErrorHandlerBase::~CFiErrorHandlerBase() = default;

int CFiErrorHandlerBase::handleText(const std::string & /*text*/, kel_eseverity /*severity*/) { return 0; }

CFiErrorHandler::CFiErrorHandler(kel_pgn_init *init, const CFiMessageCatalogManagerPtr &catalogs)
    : m_init(init), m_catalogs(catalogs) {
    if (init != nullptr && init->native_language != nullptr && *init->native_language != nullptr)
        m_nativeLanguage = *init->native_language;
}

CFiErrorHandler::~CFiErrorHandler() = default;

int CFiErrorHandler::handleText(const std::string &text, kel_eseverity severity) {
    if (m_init == nullptr || m_init->callback == nullptr) return 0;
    WString wide = CFiStringTool::toWide(text);
    m_init->callback(m_init, L"", wide.c_str(), static_cast<int>(severity));
    return 0;
}

int CFiErrorHandler::handleMessage(const CFiMessagePtr &message) {
    if (m_init == nullptr || m_init->callback == nullptr || message.isNull()) return 0;
    WString defaultText;
    WString nativeText;
    if (m_catalogs.isNull()) {
        defaultText = CFiStringTool::toWide("<" + message->messageId() + ">");
        nativeText = defaultText;
    } else {
        defaultText = m_catalogs->getLocalizedMessage(message, "");
        nativeText = m_catalogs->getLocalizedMessage(message, m_nativeLanguage.c_str());
    }
    m_init->callback(m_init, nativeText.c_str(), defaultText.c_str(), static_cast<int>(message->severityNumber()));
    return 0;
}

} // namespace kelm_pdk_4_4

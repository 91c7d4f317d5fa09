// Simulated disks backed by a real SCSI logical unit over iSCSI (libiscsi).
// One session per (initiator name, ISID, portal, target, LUN) is logged in
// on first use and kept for the life of the process; each carries its own
// mutex, since a libiscsi context is not safe for concurrent use.
#include "iscsi_session.h"
#include "iscsi_url.h"
#include "platform/disk_backend.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cctype>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>

extern "C" {
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>
}

namespace rendo_sim {
namespace {

using Clock = std::chrono::steady_clock;

// Sense data layout (SPC-3 4.5.2 / 4.5.3).
constexpr size_t kFixedSenseLength = 18;
constexpr size_t kSenseMaxLength = 252;
constexpr uint8_t kSenseFixedCurrent = 0x70;
constexpr uint8_t kSenseFixedDeferred = 0x71;
constexpr uint8_t kSenseDescCurrent = 0x72;
constexpr uint8_t kSenseDescDeferred = 0x73;
constexpr uint8_t kSenseKeyNotReady = 0x02;
constexpr uint8_t kSenseKeyUnitAttention = 0x06;

constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint8_t kStatusReservationConflict = 0x18;

constexpr size_t kMaxTransfer = 16u << 20;      // far above any pass-through the provider sends
constexpr size_t kCopiedReadMax = 64u << 10;    // larger reads go straight to the caller's buffer
constexpr uint32_t kDefaultCommandSeconds = 30;
constexpr uint32_t kMaxCommandSeconds = 3600;
constexpr int kLoginSweepAttempts = 8;          // TEST UNIT READY tries to clear unit attentions

std::atomic<long long> g_loginTimeoutMs{10000};
std::atomic<size_t> g_loggedIn{0};

uint16_t loadBe16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t loadBe32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}
uint64_t loadBe64(const uint8_t *p) { return static_cast<uint64_t>(loadBe32(p)) << 32 | loadBe32(p + 4); }

// Writing to a socket the target has closed raises SIGPIPE, which would end
// the process. Block it on this thread while libiscsi does I/O and discard
// any that became pending, leaving the caller's signal state as it was.
class SigpipeGuard {
public:
    SigpipeGuard()
    {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe, &old_);
    }
    ~SigpipeGuard()
    {
        if (!wasPending_) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            struct timespec zero = {0, 0};
            while (sigtimedwait(&pipe, nullptr, &zero) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard &) = delete;
    SigpipeGuard &operator=(const SigpipeGuard &) = delete;

private:
    sigset_t old_;
    bool wasPending_ = false;
};

struct Completion {
    bool done = false;
    int status = 0;
};

void onComplete(struct iscsi_context *, int status, void *, void *privateData)
{
    auto *c = static_cast<Completion *>(privateData);
    c->status = status;
    c->done = true;
}

bool validIscsiName(const std::string &name)
{
    if (name.size() < 5 || name.size() > kIscsiNameMaxLength)
        return false;
    std::string prefix = name.substr(0, 4);
    for (char &c : prefix)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (prefix != "iqn." && prefix != "eui." && prefix != "naa.")
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != ':')
            return false;
    return true;
}

// libiscsi sets the ISID only through its typed setters; map the six raw
// bytes onto them and refuse what they cannot express (reserved A bits).
bool applyIsid(struct iscsi_context *ctx, const uint8_t isid[6], std::string *error)
{
    uint32_t mid = static_cast<uint32_t>(isid[1]) << 16 | static_cast<uint32_t>(isid[2]) << 8 | isid[3];
    uint32_t low = static_cast<uint32_t>(isid[4]) << 8 | isid[5];
    switch (isid[0] & 0xC0) {
    case 0x00:
        return iscsi_set_isid_oui(ctx, static_cast<uint32_t>(isid[0] & 0x3F) << 16 | isid[1] << 8 | isid[2],
                                  static_cast<uint32_t>(isid[3]) << 16 | low) == 0;
    case 0x40:
    case 0x80:
        if (isid[0] & 0x3F) {
            if (error)
                *error = "ISID type " + std::to_string(isid[0] >> 6) + " has reserved bits set in its first byte";
            return false;
        }
        return ((isid[0] & 0xC0) == 0x40 ? iscsi_set_isid_en(ctx, mid, low) : iscsi_set_isid_random(ctx, mid, low)) == 0;
    default:
        if (isid[0] != 0xC0 || mid != 0 || low != 0) {
            if (error)
                *error = "a reserved-type ISID must be C0 00 00 00 00 00";
            return false;
        }
        return iscsi_set_isid_reserved(ctx) == 0;
    }
}

std::string isidText(const uint8_t isid[6])
{
    static const char hex[] = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < 6; ++i) {
        s += hex[isid[i] >> 4];
        s += hex[isid[i] & 0xF];
    }
    return s;
}

uint8_t senseKey(const std::vector<uint8_t> &sense) { return sense.size() > 2 ? (sense[2] & 0x0F) : 0; }

class IscsiSession {
public:
    IscsiSession(const IscsiUrl &url, const InitiatorIdentity &who) : url_(url), who_(who) {}
    ~IscsiSession()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dropLocked("session closed");
    }
    IscsiSession(const IscsiSession &) = delete;
    IscsiSession &operator=(const IscsiSession &) = delete;

    // Logs in when there is no live session (first use, or the target
    // dropped the previous one).
    bool ensureLoggedIn(std::string *error)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (ctx_ && !stillConnectedLocked())
            dropLocked("the target closed the connection");
        if (ctx_)
            return true;
        return loginLocked(error);
    }

    ScsiResult execute(const ScsiRequest &request)
    {
        ScsiResult result;
        std::string why;
        if (!validRequest(request, why)) {
            result.transportError = true;
            result.transportMessage = why;
            return result;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!ctx_) {
            result.transportError = true;
            result.transportMessage = describe() + " is not logged in (" + lostReason_ + ")";
            return result;
        }
        uint32_t seconds = request.timeoutSeconds ? std::min(request.timeoutSeconds, kMaxCommandSeconds)
                                                  : kDefaultCommandSeconds;
        return runLocked(request, Clock::now() + std::chrono::seconds(seconds));
    }

    bool capacity(uint64_t &blocks, uint32_t &blockSize)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!capacityKnown_ && ctx_)
            readCapacityLocked(Clock::now() + std::chrono::seconds(kDefaultCommandSeconds));
        if (!capacityKnown_)
            return false;
        blocks = blocks_;
        blockSize = blockSize_;
        return true;
    }

private:
    std::string describe() const
    {
        return "iSCSI session " + who_.initiatorName + "/" + isidText(who_.isid) + " to " + url_.text();
    }

    static bool validRequest(const ScsiRequest &r, std::string &why)
    {
        if (!r.cdb || r.cdbLength == 0 || r.cdbLength > SCSI_CDB_MAX_SIZE) {
            why = "CDB missing or longer than " + std::to_string(SCSI_CDB_MAX_SIZE) + " bytes";
            return false;
        }
        if (r.direction != DataDirection::None && r.dataLength > 0 && !r.data) {
            why = "data buffer missing";
            return false;
        }
        if (r.dataLength > kMaxTransfer) {
            why = "transfer of " + std::to_string(r.dataLength) + " bytes is too large";
            return false;
        }
        return true;
    }

    // Runs the context until *done or the deadline; false with why on a
    // transport failure or time-out. libiscsi sends headers, immediate data
    // and padding with MSG_NOSIGNAL; only data-out taken from a task's
    // buffers goes through writev, which can raise SIGPIPE. Guarding costs
    // four system calls, so only the exchanges that write such data pay it.
    bool waitLocked(const Completion &c, Clock::time_point deadline, std::string &why, bool writesTaskData = true)
    {
        std::optional<SigpipeGuard> guard;
        if (writesTaskData)
            guard.emplace();
        while (!c.done) {
            auto now = Clock::now();
            if (now >= deadline) {
                why = "no answer from " + url_.portal() + " in time";
                return false;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            struct pollfd pfd;
            pfd.fd = iscsi_get_fd(ctx_);
            pfd.events = static_cast<short>(iscsi_which_events(ctx_));
            pfd.revents = 0;
            if (pfd.fd < 0) {
                why = "connection to " + url_.portal() + " closed";
                return false;
            }
            int rc = poll(&pfd, 1, static_cast<int>(std::min<long long>(left, 200) + 1));
            if (rc < 0) {
                if (errno == EINTR)
                    continue;
                why = std::string("poll failed: ") + std::strerror(errno);
                return false;
            }
            if (rc == 0)
                continue;
            if (iscsi_service(ctx_, pfd.revents) < 0) {
                why = iscsi_get_error(ctx_);
                if (why.empty())
                    why = "connection to " + url_.portal() + " failed";
                return false;
            }
        }
        return true;
    }

    bool stillConnectedLocked()
    {
        SigpipeGuard guard;
        int fd = iscsi_get_fd(ctx_);
        if (fd < 0)
            return false;
        struct pollfd pfd;
        pfd.fd = fd;
        pfd.events = POLLIN | POLLRDHUP;
        pfd.revents = 0;
        if (poll(&pfd, 1, 0) <= 0)
            return true;
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL | POLLRDHUP))
            return false;
        // Readable while idle: end of stream, or a NOP-In or async message
        // that libiscsi should consume.
        char byte;
        ssize_t n = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0)
            return false;
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        return iscsi_service(ctx_, POLLIN) >= 0 && iscsi_get_fd(ctx_) >= 0;
    }

    void dropLocked(const std::string &why)
    {
        if (!ctx_)
            return;
        // Cancels every queued PDU; their callbacks still point at live frames.
        iscsi_destroy_context(ctx_);
        ctx_ = nullptr;
        lostReason_ = why;
        capacityKnown_ = false;
        g_loggedIn.fetch_sub(1);
    }

    bool loginLocked(std::string *error)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(g_loginTimeoutMs.load());
        auto fail = [&](const std::string &why) {
            if (ctx_) {
                iscsi_destroy_context(ctx_);
                ctx_ = nullptr;
            }
            lostReason_ = why;
            if (error)
                *error = "cannot log in to " + url_.text() + " as " + who_.initiatorName + ": " + why;
            return false;
        };
        ctx_ = iscsi_create_context(who_.initiatorName.c_str());
        if (!ctx_)
            return fail("cannot create an iSCSI context");
        std::string why;
        if (!applyIsid(ctx_, who_.isid, &why))
            return fail(why);
        if (iscsi_set_targetname(ctx_, url_.target.c_str()) != 0 ||
            iscsi_set_session_type(ctx_, ISCSI_SESSION_NORMAL) != 0 ||
            iscsi_set_header_digest(ctx_, ISCSI_HEADER_DIGEST_NONE_CRC32C) != 0)
            return fail(iscsi_get_error(ctx_));
        // A dropped session must surface as an error, not as a silent
        // reconnect that loops and sleeps inside libiscsi.
        iscsi_set_noautoreconnect(ctx_, 1);

        // The connect callback fires again if the connection later breaks,
        // so its state lives in the session rather than on this frame.
        connectState_ = Completion();
        if (iscsi_connect_async(ctx_, url_.portal().c_str(), onComplete, &connectState_) != 0)
            return fail(iscsi_get_error(ctx_));
        if (!waitLocked(connectState_, deadline, why))
            return fail("connect: " + why);
        if (connectState_.status != SCSI_STATUS_GOOD)
            return fail(std::string("connect: ") + iscsi_get_error(ctx_));

        Completion login;
        if (iscsi_login_async(ctx_, onComplete, &login) != 0)
            return fail(iscsi_get_error(ctx_));
        if (!waitLocked(login, deadline, why))
            return fail("login: " + why);
        if (login.status != SCSI_STATUS_GOOD)
            return fail(std::string("login: ") + iscsi_get_error(ctx_));
        g_loggedIn.fetch_add(1);

        // A new I_T nexus starts with POWER ON RESET (and whatever else the
        // target has queued); take them here, as an HBA does, so the first
        // command the provider sends is answered normally.
        static const uint8_t tur[6] = {0x00, 0, 0, 0, 0, 0};
        ScsiRequest request;
        request.cdb = tur;
        request.cdbLength = sizeof(tur);
        for (int attempt = 0;; ++attempt) {
            ScsiResult r = runLocked(request, deadline);
            if (r.transportError) {
                std::string message = r.transportMessage;
                dropLocked(message);
                return fail(message);
            }
            if (r.status != kStatusCheckCondition)
                break;   // GOOD, or a reservation held elsewhere: the unit is there
            uint8_t key = senseKey(r.sense);
            if ((key != kSenseKeyUnitAttention && key != kSenseKeyNotReady) || attempt + 1 >= kLoginSweepAttempts) {
                char text[64];
                std::snprintf(text, sizeof text, "TEST UNIT READY: sense key %X ASC %02X ASCQ %02X", key,
                              r.sense.size() > 12 ? r.sense[12] : 0, r.sense.size() > 13 ? r.sense[13] : 0);
                dropLocked(text);
                return fail(text);
            }
            if (key == kSenseKeyNotReady)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        readCapacityLocked(deadline);
        return true;
    }

    void readCapacityLocked(Clock::time_point deadline)
    {
        uint8_t cdb10[10] = {0x25};
        uint8_t data[32] = {};
        ScsiRequest request;
        request.cdb = cdb10;
        request.cdbLength = sizeof(cdb10);
        request.direction = DataDirection::In;
        request.data = data;
        request.dataLength = 8;
        ScsiResult r = runRetryingUnitAttention(request, deadline);
        if (r.transportError || r.status != kStatusGood || r.dataTransferred < 8)
            return;
        uint64_t last = loadBe32(data);
        uint32_t size = loadBe32(data + 4);
        if (last == 0xFFFFFFFFu) {
            uint8_t cdb16[16] = {0x9E, 0x10};
            cdb16[13] = sizeof(data);
            request.cdb = cdb16;
            request.cdbLength = sizeof(cdb16);
            request.dataLength = sizeof(data);
            r = runRetryingUnitAttention(request, deadline);
            if (r.transportError || r.status != kStatusGood || r.dataTransferred < 12)
                return;
            last = loadBe64(data);
            size = loadBe32(data + 8);
        }
        if (size == 0 || last == UINT64_MAX)
            return;
        blocks_ = last + 1;
        blockSize_ = size;
        capacityKnown_ = true;
    }

    ScsiResult runRetryingUnitAttention(const ScsiRequest &request, Clock::time_point deadline)
    {
        ScsiResult r;
        for (int attempt = 0; attempt < 3 && ctx_; ++attempt) {
            r = runLocked(request, deadline);
            if (r.transportError || r.status != kStatusCheckCondition || senseKey(r.sense) != kSenseKeyUnitAttention)
                break;
        }
        return r;
    }

    ScsiResult runLocked(const ScsiRequest &request, Clock::time_point deadline)
    {
        ScsiResult result;
        size_t length = request.direction == DataDirection::None ? 0 : request.dataLength;
        int direction = length == 0 ? SCSI_XFER_NONE
                        : request.direction == DataDirection::In ? SCSI_XFER_READ : SCSI_XFER_WRITE;
        unsigned char cdb[SCSI_CDB_MAX_SIZE] = {};
        std::memcpy(cdb, request.cdb, request.cdbLength);
        struct scsi_task *task = scsi_create_task(static_cast<int>(request.cdbLength), cdb, direction,
                                                  static_cast<int>(length));
        if (!task) {
            result.transportError = true;
            result.transportMessage = "out of memory for a SCSI task";
            return result;
        }
        // Small reads land in libiscsi's buffer and are copied out: read into
        // the caller's buffer, a length that is not a multiple of four costs
        // another poll and recv for the padding, each command.
        const bool direct = direction == SCSI_XFER_READ && length > kCopiedReadMax;
        if (direct && scsi_task_add_data_in_buffer(task, static_cast<int>(length), request.data) != 0) {
            scsi_free_scsi_task(task);
            result.transportError = true;
            result.transportMessage = "out of memory for a data-in buffer";
            return result;
        }
        struct iscsi_data out;
        out.data = request.data;
        out.size = length;
        Completion done;
        std::string why;
        const bool writes = direction == SCSI_XFER_WRITE;
        bool ok = iscsi_scsi_command_async(ctx_, static_cast<int>(url_.lun), task, onComplete,
                                           writes ? &out : nullptr, &done) == 0;
        if (!ok) {
            why = iscsi_get_error(ctx_);
        } else {
            // The socket is almost always writable: send the command now
            // rather than after a poll that says so. A full socket just
            // leaves it queued for the loop.
            std::optional<SigpipeGuard> guard;
            if (writes)
                guard.emplace();
            if (iscsi_service(ctx_, POLLOUT) < 0) {
                ok = false;
                why = iscsi_get_error(ctx_);
                if (why.empty())
                    why = "connection to " + url_.portal() + " failed";
            }
        }
        if (ok)
            ok = waitLocked(done, deadline, why, writes);
        if (ok) {
            switch (done.status) {
            case SCSI_STATUS_GOOD: {
                result.status = kStatusGood;
                size_t residual = task->residual_status == SCSI_RESIDUAL_UNDERFLOW ? task->residual : 0;
                size_t moved = length - std::min(length, residual);
                if (direction == SCSI_XFER_READ && !direct) {
                    size_t arrived = task->datain.data ? static_cast<size_t>(std::max(task->datain.size, 0)) : 0;
                    moved = std::min(moved, arrived);
                    if (moved)
                        std::memcpy(request.data, task->datain.data, moved);
                }
                result.dataTransferred = moved;
                break;
            }
            case SCSI_STATUS_CHECK_CONDITION:
                result.status = kStatusCheckCondition;
                result.sense = fixedSenseFromSegment(task->datain.data, task->datain.size);
                break;
            case SCSI_STATUS_RESERVATION_CONFLICT:
                result.status = kStatusReservationConflict;
                break;
            default:
                ok = false;
                why = iscsi_get_error(ctx_);
                if (why.empty())
                    why = "command ended with libiscsi status " + std::to_string(done.status);
                break;
            }
        }
        if (!ok) {
            std::string message = describe() + ": " + why;
            // The session's state is unknown now; start afresh on next open.
            dropLocked(why);
            result = ScsiResult();
            result.transportError = true;
            result.transportMessage = message;
        }
        scsi_free_scsi_task(task);
        return result;
    }

    const IscsiUrl url_;
    const InitiatorIdentity who_;
    std::mutex mutex_;
    struct iscsi_context *ctx_ = nullptr;   // null: not logged in
    Completion connectState_;
    std::string lostReason_ = "never logged in";
    bool capacityKnown_ = false;
    uint64_t blocks_ = 0;
    uint32_t blockSize_ = 0;
};

class IscsiBackend : public DiskBackend {
public:
    explicit IscsiBackend(std::shared_ptr<IscsiSession> session) : session_(std::move(session)) {}
    ScsiResult execute(const ScsiRequest &request) override { return session_->execute(request); }
    bool capacity(uint64_t &blocks, uint32_t &blockSize) override { return session_->capacity(blocks, blockSize); }

private:
    std::shared_ptr<IscsiSession> session_;
};

// Never destroyed: sessions outlive every disk and every static object
// that might still hold a backend during exit.
struct Registry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<IscsiSession>> sessions;
};

Registry &registry()
{
    static Registry *r = new Registry;
    return *r;
}

} // namespace

void setIscsiLoginTimeout(std::chrono::milliseconds timeout)
{
    g_loginTimeoutMs.store(std::max<long long>(1, timeout.count()));
}

std::chrono::milliseconds iscsiLoginTimeout() { return std::chrono::milliseconds(g_loginTimeoutMs.load()); }

size_t iscsiLoggedInSessionCount() { return g_loggedIn.load(); }

std::vector<uint8_t> fixedSenseFromSegment(const uint8_t *segment, size_t segmentLength)
{
    std::vector<uint8_t> fixed;
    if (!segment || segmentLength < 3)
        return fixed;
    size_t length = std::min<size_t>(loadBe16(segment), segmentLength - 2);
    length = std::min(length, kSenseMaxLength);
    const uint8_t *sense = segment + 2;
    if (length == 0)
        return fixed;
    uint8_t code = sense[0] & 0x7F;
    if (code == kSenseFixedCurrent || code == kSenseFixedDeferred || length < 4 ||
        (code != kSenseDescCurrent && code != kSenseDescDeferred))
        return std::vector<uint8_t>(sense, sense + length);

    // Descriptor format: key, ASC and ASCQ sit in bytes 1-3; an information
    // descriptor (type 0) fills the INFORMATION field when it fits.
    fixed.assign(kFixedSenseLength, 0);
    fixed[0] = code == kSenseDescCurrent ? kSenseFixedCurrent : kSenseFixedDeferred;
    fixed[2] = sense[1] & 0x0F;
    fixed[7] = kFixedSenseLength - 8;
    fixed[12] = sense[2];
    fixed[13] = sense[3];
    size_t end = std::min(length, static_cast<size_t>(8) + (length > 7 ? sense[7] : 0));
    for (size_t pos = 8; pos + 2 <= end;) {
        uint8_t type = sense[pos];
        size_t descLength = static_cast<size_t>(sense[pos + 1]) + 2;
        if (pos + descLength > end)
            break;
        if (type == 0x00 && descLength >= 12) {
            const uint8_t *info = sense + pos + 4;
            if (info[0] == 0 && info[1] == 0 && info[2] == 0 && info[3] == 0) {
                std::memcpy(&fixed[3], info + 4, 4);
                if (sense[pos + 2] & 0x80)
                    fixed[0] |= 0x80;
            }
        }
        pos += descLength;
    }
    return fixed;
}

std::shared_ptr<DiskBackend> openIscsiBackend(const std::string &url, const InitiatorIdentity &who,
                                              std::string *error)
{
    IscsiUrl parsed;
    if (!parseIscsiUrl(url, &parsed, error))
        return nullptr;
    if (!validIscsiName(who.initiatorName)) {
        if (error)
            *error = "invalid initiator name \"" + who.initiatorName.substr(0, 80) +
                     "\" (an iqn., eui. or naa. name of at most 223 characters)";
        return nullptr;
    }
    std::string key = who.initiatorName + '\n' + isidText(who.isid) + '\n' + parsed.text();
    std::shared_ptr<IscsiSession> session;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto &slot = r.sessions[key];
        if (!slot)
            slot = std::make_shared<IscsiSession>(parsed, who);
        session = slot;
    }
    if (!session->ensureLoggedIn(error))
        return nullptr;
    return std::make_shared<IscsiBackend>(session);
}

} // namespace rendo_sim

// The simulated SAN: the array's state of each logical unit (registrations
// and the reservation per I_T nexus, masking) in a state directory shared by
// every process that names the unit. One text file per unit, updated under
// the directory's lock by writing a temporary file and renaming it over the
// old one, so a process killed mid-update leaves the old state or the new.
// Format and rules: docs/simulated-san.md.
#include "sim_host_impl.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rendo_sim {

namespace {

const char kMagic[] = "rendo-sim-lu";
const unsigned kVersion = 1;
const size_t kMaxFileBytes = 1 << 20;
const size_t kMaxRegistrations = 4096;
const char kSuffix[] = ".lu";
const char kTempSuffix[] = ".lu.tmp";

// Tokens are written with blanks, controls, bytes above 0x7E and "%" as %XX;
// the empty text as "-" (so a literal "-" is %2D).
std::string escape(const std::string &s) {
    if (s.empty()) return "-";
    std::string out;
    for (unsigned char c : s) {
        if (c <= 0x20 || c >= 0x7F || c == '%' || (c == '-' && s.size() == 1)) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool unescape(const std::string &token, std::string &out) {
    out.clear();
    if (token == "-") return true;
    for (size_t i = 0; i < token.size(); ++i) {
        if (token[i] != '%') {
            out.push_back(token[i]);
            continue;
        }
        if (i + 2 >= token.size()) return false;
        int hi = hexDigit(token[i + 1]), lo = hexDigit(token[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return !out.empty();
}

// A decimal number up to max, digits only.
bool decimal(const std::string &s, uint64_t max, uint64_t &out) {
    if (s.empty() || s.size() > 20 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
    if (errno != 0 || v > max) return false;
    out = v;
    return true;
}

std::vector<std::string> words(const std::string &line) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at <= line.size()) {
        size_t sp = line.find(' ', at);
        if (sp == std::string::npos) sp = line.size();
        out.push_back(line.substr(at, sp - at));
        at = sp + 1;
    }
    return out;
}

const char *maskingWord(Masking m) {
    switch (m) {
    case Masking::Masked: return "masked";
    case Masking::UnmaskedByTest: return "unmasked-by-test";
    case Masking::UnmaskedByScenario: return "unmasked-by-scenario";
    default: return nullptr;
    }
}

uint64_t fnv1a(const std::string &s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
}

bool endsWith(const std::string &s, const char *suffix) {
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Each problem once per process: a unit read on every command would
// otherwise repeat it on every command.
void reportOnce(const std::string &line) {
    static std::mutex mutex;
    static std::set<std::string> *seen = new std::set<std::string>;  // outlives static destructors
    std::lock_guard<std::mutex> lock(mutex);
    if (seen->insert(line).second) std::fprintf(stderr, "rendo simulated SAN: %s\n", line.c_str());
}

bool makeDirectories(const std::string &path, std::string *error) {
    std::string at;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        at = path.substr(0, pos);
        if (at.empty() || ::mkdir(at.c_str(), 0777) == 0 || errno == EEXIST) continue;
        if (error) *error = at + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (error) *error = path + ": not a directory";
        return false;
    }
    return true;
}

// The directory's lock: an flock on ".lock", which the kernel drops when the
// holder dies. Every open is its own lock, so threads exclude each other too.
class DirectoryLock {
public:
    // `create`: make the directory when missing; else no directory, no lock.
    DirectoryLock(const std::string &directory, bool create, std::string *error) {
        std::string path = directory + "/.lock";
        m_fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_CREAT, 0666);
        if (m_fd < 0 && errno == ENOENT && create) {  // the first update made in this directory
            if (!makeDirectories(directory, error)) return;
            m_fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_CREAT, 0666);
        }
        if (m_fd < 0) {
            if (error) *error = path + ": " + std::strerror(errno);
            return;
        }
        while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~DirectoryLock() {
        if (m_fd >= 0) ::close(m_fd);
    }
    DirectoryLock(const DirectoryLock &) = delete;
    DirectoryLock &operator=(const DirectoryLock &) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

enum class Load { Missing, Good, Bad };

Load loadFile(const std::string &path, const std::string &identity, LuState &state, std::string &reason) {
    state = LuState();
    state.identity = identity;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return Load::Missing;
        reason = std::strerror(errno);
        return Load::Bad;
    }
    std::string text;
    char buf[8192];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 && text.size() <= kMaxFileBytes) text.append(buf, size_t(n));
    int readError = n < 0 ? errno : 0;
    ::close(fd);
    if (readError != 0) {
        reason = std::strerror(readError);
        return Load::Bad;
    }
    if (text.size() > kMaxFileBytes) {
        reason = "larger than 1 MiB";
        return Load::Bad;
    }
    LuState parsed;
    if (!parseLuState(text, parsed, &reason)) return Load::Bad;
    if (!identity.empty() && parsed.identity != identity) {
        reason = "holds logical unit \"" + parsed.identity + "\"";
        return Load::Bad;
    }
    state = parsed;
    return Load::Good;
}

bool writeAll(int fd, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// Temporary file, fsync, rename over the old file, fsync of the directory.
bool storeFile(const std::string &directory, const std::string &path, const std::string &text, std::string &reason) {
    std::string temp = path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = temp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = writeAll(fd, text) && ::fsync(fd) == 0;
    int e = errno;
    ::close(fd);
    if (!ok) {
        reason = temp + ": " + std::strerror(e);
        ::unlink(temp.c_str());
        return false;
    }
    // Test hook: die where a kill would do the most harm.
    const char *crash = std::getenv("RENDO_SIM_STATE_CRASH");
    if (crash != nullptr && std::strcmp(crash, "before-rename") == 0) ::_exit(75);
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        reason = path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

std::vector<std::string> entries(const std::string &directory) {
    std::vector<std::string> names;
    DIR *d = ::opendir(directory.c_str());
    if (d == nullptr) return names;
    while (dirent *e = ::readdir(d)) {
        std::string name = e->d_name;
        if (endsWith(name, kSuffix) || endsWith(name, kTempSuffix)) names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// ------------------------------------------------------------ file format

std::string formatLuState(const LuState &s) {
    const ReservationState &r = s.reservation;
    std::string out = std::string(kMagic) + " " + std::to_string(kVersion) + "\n";
    out += "identity " + escape(s.identity) + "\n";
    out += "generation " + std::to_string(r.generation) + "\n";
    char key[17];
    for (const Registration &g : r.registrations) {
        std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(g.key));
        out += "registration " + std::to_string(g.targetPort) + " " + key + " " + escape(g.initiator) + "\n";
    }
    if (r.reserved)
        out += "reservation " + std::to_string(r.holderTargetPort) + " " + std::to_string(r.type) + " " +
               escape(r.holder) + "\n";
    if (const char *m = maskingWord(s.masking)) out += std::string("masking ") + m + "\n";
    out += "end\n";
    return out;
}

bool parseLuState(const std::string &text, LuState &state, std::string *error) {
    auto bad = [&](size_t line, const std::string &why) {
        if (error) *error = line == 0 ? why : "line " + std::to_string(line) + ": " + why;
        return false;
    };
    if (text.empty()) return bad(0, "empty");
    if (text.back() != '\n') return bad(0, "truncated (no final line feed)");
    LuState s;
    bool haveIdentity = false, haveGeneration = false, haveMasking = false, ended = false;
    size_t lineNo = 0, at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        std::string line = text.substr(at, nl - at);
        at = nl + 1;
        ++lineNo;
        if (ended) return bad(lineNo, "text after \"end\"");
        std::vector<std::string> w = words(line);
        uint64_t a = 0, b = 0;
        if (lineNo == 1) {
            if (w.size() != 2 || w[0] != kMagic) return bad(1, "not a logical-unit state file");
            if (!decimal(w[1], UINT32_MAX, a) || a != kVersion)
                return bad(1, "version \"" + w[1].substr(0, 20) + "\" is not known");
            continue;
        }
        const std::string &key = w[0];
        if (key == "end" && w.size() == 1) {
            ended = true;
        } else if (key == "identity" && w.size() == 2) {
            if (haveIdentity || !unescape(w[1], s.identity)) return bad(lineNo, "bad identity");
            haveIdentity = true;
        } else if (key == "generation" && w.size() == 2) {
            if (haveGeneration || !decimal(w[1], UINT32_MAX, a)) return bad(lineNo, "bad generation");
            s.reservation.generation = static_cast<uint32_t>(a);
            haveGeneration = true;
        } else if (key == "registration" && w.size() == 4) {
            Registration g;
            if (!decimal(w[1], UINT32_MAX, a) || w[2].size() != 16 ||
                w[2].find_first_not_of("0123456789abcdef") != std::string::npos || !unescape(w[3], g.initiator))
                return bad(lineNo, "a registration is TARGET-PORT KEY(16 hex digits) INITIATOR");
            g.targetPort = static_cast<uint32_t>(a);
            g.key = std::strtoull(w[2].c_str(), nullptr, 16);
            for (const Registration &o : s.reservation.registrations)
                if (o.initiator == g.initiator && o.targetPort == g.targetPort)
                    return bad(lineNo, "a nexus registered twice");
            if (s.reservation.registrations.size() >= kMaxRegistrations) return bad(lineNo, "too many registrations");
            s.reservation.registrations.push_back(g);
        } else if (key == "reservation" && w.size() == 4) {
            if (s.reservation.reserved || !decimal(w[1], UINT32_MAX, a) || !decimal(w[2], 8, b) ||
                !(b == 1 || b == 3 || b == 5 || b == 6 || b == 7 || b == 8) || !unescape(w[3], s.reservation.holder))
                return bad(lineNo, "a reservation is TARGET-PORT TYPE(1,3,5,6,7,8) INITIATOR, once");
            s.reservation.reserved = true;
            s.reservation.holderTargetPort = static_cast<uint32_t>(a);
            s.reservation.type = static_cast<uint8_t>(b);
        } else if (key == "masking" && w.size() == 2 && !haveMasking) {
            if (w[1] == "masked") s.masking = Masking::Masked;
            else if (w[1] == "unmasked-by-test") s.masking = Masking::UnmaskedByTest;
            else if (w[1] == "unmasked-by-scenario") s.masking = Masking::UnmaskedByScenario;
            else return bad(lineNo, "unknown masking \"" + w[1].substr(0, 40) + "\"");
            haveMasking = true;
        } else {
            return bad(lineNo, "unknown or malformed line \"" + line.substr(0, 40) + "\"");
        }
    }
    if (!ended) return bad(0, "truncated (no \"end\" line)");
    if (!haveIdentity) return bad(0, "no identity");
    // The reservation's holder must be registered, as the model keeps it; its key is the holder's.
    ReservationState &r = s.reservation;
    if (r.reserved) {
        const Registration *holder = nullptr;
        for (const Registration &g : r.registrations)
            if (g.initiator == r.holder && g.targetPort == r.holderTargetPort) holder = &g;
        if (holder == nullptr) return bad(0, "the reservation holder is not registered");
        r.key = r.type == 7 || r.type == 8 ? 0 : holder->key;
    }
    state = s;
    return true;
}

// ------------------------------------------------------- state directory

SanStateDir::SanStateDir(std::string directory) : m_directory(std::move(directory)) {
    while (m_directory.size() > 1 && m_directory.back() == '/') m_directory.pop_back();
}

std::string SanStateDir::pathOf(const std::string &identity) const {
    // Letters, digits, "." "_" "-" as they are (no leading "."); the rest %XX.
    std::string name;
    for (size_t i = 0; i < identity.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(identity[i]);
        if (std::isalnum(c) || c == '_' || c == '-' || (c == '.' && i > 0)) {
            name.push_back(static_cast<char>(c));
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            name += buf;
        }
    }
    if (name.size() > 120) {
        char hash[20];
        std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(fnv1a(identity)));
        name = name.substr(0, 100) + hash;
    }
    return m_directory + "/" + name + kSuffix;
}

bool SanStateDir::update(const std::string &identity, const std::function<void(LuState &)> &apply) {
    std::string error;
    DirectoryLock lock(m_directory, true, &error);
    LuState state;
    std::string path = pathOf(identity);
    Load load = Load::Missing;
    if (lock.held()) {
        load = loadFile(path, identity, state, error);
        if (load == Load::Bad) reportOnce(path + ": " + error + "; the logical unit starts afresh");
    } else {
        std::lock_guard<std::mutex> local(m_localMutex);
        auto kept = m_local.find(identity);
        state = kept != m_local.end() ? kept->second : LuState();
        state.identity = identity;
    }
    std::string before = formatLuState(state);
    apply(state);
    state.identity = identity;
    std::string after = formatLuState(state);
    if (!lock.held()) {
        std::lock_guard<std::mutex> local(m_localMutex);
        m_local[identity] = state;
        reportOnce("cannot lock the state directory: " + error + "; state kept in this process only");
        return false;
    }
    if (after == before) return true;  // a read rewrites nothing; a corrupt file goes with the next change
    if (!storeFile(m_directory, path, after, error)) {
        reportOnce("cannot write " + error);
        return false;
    }
    return true;
}

LuState SanStateDir::read(const std::string &identity) const {
    LuState state;
    state.identity = identity;
    std::string error;
    DirectoryLock lock(m_directory, false, &error);
    if (!lock.held()) {  // no directory yet: nothing recorded, unless by this process
        std::lock_guard<std::mutex> local(m_localMutex);
        auto kept = m_local.find(identity);
        return kept != m_local.end() ? kept->second : state;
    }
    std::string path = pathOf(identity);
    if (loadFile(path, identity, state, error) == Load::Bad)
        reportOnce(path + ": " + error + "; the logical unit starts afresh");
    return state;
}

std::vector<LuState> SanStateDir::list(std::vector<std::string> *problems) const {
    std::vector<LuState> out;
    std::string error;
    DirectoryLock lock(m_directory, false, &error);
    if (!lock.held()) return out;
    for (const std::string &name : entries(m_directory)) {
        std::string path = m_directory + "/" + name;
        if (endsWith(name, kTempSuffix)) {
            if (problems) problems->push_back(path + ": an update that did not finish (ignored)");
            continue;
        }
        LuState state;
        if (loadFile(path, std::string(), state, error) == Load::Good) out.push_back(state);
        else if (problems) problems->push_back(path + ": " + error);
    }
    return out;
}

std::vector<std::string> SanStateDir::reset(std::string *error) {
    std::vector<std::string> removed;
    struct stat st;
    if (::stat(m_directory.c_str(), &st) != 0) return removed;  // nothing was ever recorded
    DirectoryLock lock(m_directory, false, error);
    if (!lock.held()) return removed;
    for (const std::string &name : entries(m_directory)) {
        std::string path = m_directory + "/" + name;
        if (::unlink(path.c_str()) == 0) removed.push_back(name);
        else if (error) *error = path + ": " + std::strerror(errno);
    }
    return removed;
}

std::string sanStateDirectory() {
    if (const char *named = std::getenv("RENDO_SIM_STATE")) return named;
    const char *root = std::getenv("KELM_INSTALL_ROOT");
    if (root != nullptr && *root != '\0') {
        std::string r = root;
        if (r.back() != '/') r.push_back('/');
        return r + "SimState";
    }
    const char *tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    return base + "/rendo-sim-state-" + std::to_string(::getuid());
}

// ------------------------------------------------------ identity, sharing

std::string logicalUnitIdentity(const DiskSpec &desc) {
    if (!desc.iscsiUrl.empty()) return std::string();  // a real target keeps its own state
    if (!desc.lu.empty()) return desc.lu;
    auto page = desc.pages.find(0x83);
    if (page != desc.pages.end()) {
        // The first logical-unit designator of the best kind: NAA, EUI-64, T10.
        const std::vector<uint8_t> &p = page->second;
        std::string found[3];
        for (size_t at = 4; at + 4 <= p.size();) {
            size_t len = p[at + 3];
            if (at + 4 + len > p.size()) break;
            uint8_t type = p[at + 1] & 0x0F, association = (p[at + 1] >> 4) & 0x03;
            const uint8_t *id = p.data() + at + 4;
            if (association == 0 && len > 0 && (type == 3 || type == 2) && found[type == 3 ? 0 : 1].empty()) {
                std::string hex = type == 3 ? "naa." : "eui.";
                char buf[3];
                for (size_t i = 0; i < len; ++i) {
                    std::snprintf(buf, sizeof buf, "%02x", id[i]);
                    hex += buf;
                }
                found[type == 3 ? 0 : 1] = hex;
            } else if (association == 0 && len > 0 && type == 1 && found[2].empty()) {
                found[2] = "t10." + std::string(reinterpret_cast<const char *>(id), len);
            }
            at += 4 + len;
        }
        for (const std::string &f : found)
            if (!f.empty()) return f;
    }
    if (desc.serial.empty()) return std::string();
    auto trim = [](std::string s) {
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s;
    };
    return "serial." + trim(desc.vendor) + "." + trim(desc.product) + "." + desc.serial;
}

void shareArrayState(Host &host, const std::string &directory) {
    if (directory.empty()) return;
    auto store = std::make_shared<SanStateDir>(directory);
    Host::Impl &im = HostAccess::impl(host);
    std::lock_guard<std::mutex> lock(host.mutex());
    for (auto &l : im.luns) {
        Disk &disk = *l->m_disk;
        std::string identity = logicalUnitIdentity(disk.desc());
        if (identity.empty()) continue;
        if (disk.sharedStatePath().empty()) disk.shareState(store, identity);
        im.followSanMasking(*l);
    }
}

} // namespace rendo_sim

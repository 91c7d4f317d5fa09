// The simulated host's network identity and the Windows socket calls that
// answer from it: gethostname, gethostbyname and gethostbyaddr. Nothing here
// asks a name server or the C library's resolver, so the answers are the
// host description's and the calls are as thread-safe as Windows makes them
// (each thread has its own result record).
#include "sim_internal.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace rendo_sim {

bool Host::addIpAddress(const std::string &dotted) {
    in_addr a{};
    if (inet_pton(AF_INET, dotted.c_str(), &a) != 1) return false;
    std::lock_guard<std::mutex> lock(m_networkMutex);
    m_ipAddresses.push_back(a.s_addr);
    return true;
}

std::vector<std::string> Host::ipAddresses() const {
    std::vector<uint32_t> raw;
    {
        std::lock_guard<std::mutex> lock(m_networkMutex);
        raw = m_ipAddresses;
    }
    std::vector<std::string> out;
    for (uint32_t r : raw) {
        in_addr a{};
        a.s_addr = r;
        char text[INET_ADDRSTRLEN] = {};
        out.emplace_back(inet_ntop(AF_INET, &a, text, sizeof text));
    }
    return out;
}

} // namespace rendo_sim

namespace {

constexpr const char *kLocalhost = "localhost";
const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// What a lookup hands back, one per thread as Windows sockets keep it; the
// pointers in `entry` point into the other members.
struct HostRecord {
    hostent entry{};
    std::string name;
    std::vector<uint32_t> addresses;
    std::vector<char *> addressList;
    char *aliases[1] = {nullptr};
};

hostent *answer(const std::string &name, const std::vector<uint32_t> &addresses) {
    thread_local HostRecord record;
    record.name = name;
    record.addresses = addresses;
    record.addressList.clear();
    for (uint32_t &a : record.addresses) record.addressList.push_back(reinterpret_cast<char *>(&a));
    record.addressList.push_back(nullptr);
    record.entry.h_name = &record.name[0];
    record.entry.h_aliases = record.aliases;
    record.entry.h_addrtype = AF_INET;
    record.entry.h_length = sizeof(uint32_t);
    record.entry.h_addr_list = record.addressList.data();
    return &record.entry;
}

hostent *notFound() {
    h_errno = HOST_NOT_FOUND;
    return nullptr;
}

// The computer name as GetComputerNameW gives it (its characters are the
// description's bytes, so narrowing them back is exact).
std::string ownName() {
    wchar_t wide[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(wide, &size)) return std::string();
    std::string out;
    for (DWORD i = 0; i < size; ++i) out.push_back(static_cast<char>(wide[i]));
    return out;
}

bool sameName(const std::string &a, const char *b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return !a.empty();
}

std::vector<uint32_t> ownAddresses() {
    std::vector<uint32_t> out;
    for (const std::string &text : rendo_sim::currentHost()->ipAddresses()) {
        in_addr a{};
        if (inet_pton(AF_INET, text.c_str(), &a) == 1) out.push_back(a.s_addr);
    }
    return out;
}

// Dotted text made only of digits and dots, in any form the address parser
// takes ("10.1.2.3", "10.258"): returned without a lookup, as Windows does.
bool numericAddress(const char *name, uint32_t &address) {
    if (*name == '\0' || std::strspn(name, "0123456789.") != std::strlen(name)) return false;
    in_addr a{};
    if (inet_aton(name, &a) == 0) return false;
    address = a.s_addr;
    return true;
}

} // namespace

extern "C" {

int gethostname(char *name, size_t len) noexcept {
    std::string own = ownName();
    if (own.size() + 1 > len) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(name, own.c_str(), own.size() + 1);
    return 0;
}

// The checked form the C library's fortified headers call when the buffer's
// size is known but the length is not a constant.
int __gethostname_chk(char *name, size_t len, size_t buflen) noexcept {
    if (len > buflen) std::abort();
    return gethostname(name, len);
}

hostent *gethostbyname(const char *name) {
    if (name == nullptr) return notFound();
    uint32_t address = 0;
    if (numericAddress(name, address)) return answer(name, {address});
    std::string own = ownName();
    if (sameName(kLocalhost, name)) return answer(kLocalhost, {kLoopback});
    if (sameName(own, name)) {
        std::vector<uint32_t> addresses = ownAddresses();
        if (!addresses.empty()) return answer(own, addresses);
    }
    return notFound();
}

hostent *gethostbyaddr(const void *addr, socklen_t len, int type) {
    if (addr == nullptr || type != AF_INET || len != sizeof(uint32_t)) return notFound();
    uint32_t address = 0;
    std::memcpy(&address, addr, sizeof address);
    if (address == kLoopback) return answer(kLocalhost, {address});
    for (uint32_t own : ownAddresses()) {
        if (own == address) return answer(ownName(), {address});
    }
    return notFound();
}

} // extern "C"

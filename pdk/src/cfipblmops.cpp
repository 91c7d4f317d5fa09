#include "pdk/cfipblmops.h"

#include "pdk/cficonfiguration.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelm_pdk_4_4 {

namespace {

constexpr int kSuccess = 0;
constexpr int kInvalidArgument = 3;
constexpr int kNoMemory = 5;
constexpr int kCacheFileError = 26;
constexpr int kScanFailed = 1;
constexpr size_t kRecordBuffer = 1024;
constexpr uint32_t kHighestLun = 254;

#ifdef _WIN32
const char kSep = '\\';
#else
const char kSep = '/';
#endif
// Hidden siblings a record is written to before it is renamed into place;
// a scan of the enclosure folder never takes one for a record.
const char kTempPrefix[] = ".pblm-";

const char *orNull(const char *s) { return s != nullptr ? s : "NULL"; }

// atoi's reading (blanks, sign, digits up to the first other character; no
// digits gives 0) without its undefined overflow: huge values are clamped.
long long toNumber(const char *s) {
    if (s == nullptr) return 0;
    errno = 0;
    long long v = std::strtoll(s, nullptr, 10);
    return v;   // strtoll clamps to LLONG_MIN/MAX on overflow
}

// The enclosure as one folder name, the way the path tool names its folder.
std::string enclosureFolder(const std::string &enclosure) {
    std::string s = enclosure;
    for (char &c : s)
        if (c == '/' || c == '\\') c = '_';
    if (s == "." || s == "..") s.assign(s.size(), '_');
    return s;
}

bool exists(const char *path) {
    struct stat st {};
    return ::stat(path, &st) == 0;
}

} // namespace

CFiPblmOps::CFiPblmOps() = default;

CFiPblmOps::~CFiPblmOps() {
    while (m_lunList != nullptr) {
        lunNum *next = m_lunList->next;
        delete m_lunList;
        m_lunList = next;
    }
}

bool CFiPblmOps::inRange(long long value) const {
    return value >= static_cast<long long>(getMinLunNum()) && value <= static_cast<long long>(getMaxLunNum());
}

int CFiPblmOps::setLunNumRange(uint32_t minimum, uint32_t maximum) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::setLunNumRange");
    // The map has 255 positions: a larger minimum would mark past its end.
    m_minLunNum = minimum > kLunPositions ? static_cast<uint32_t>(kLunPositions) : minimum;
    if (maximum >= kLunPositions) {
        m_maxLunNum = kHighestLun;
        trace(6, "CFiPblmOps::setLunNumRange: bounding to higher limit of [%d].", static_cast<int>(kHighestLun));
    } else {
        m_maxLunNum = maximum;
    }
    return kSuccess;
}

int CFiPblmOps::allocLunNumEle(lunNum *&element) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::allocLunNumEle");
    element = new (std::nothrow) lunNum;
    if (element == nullptr) {
        trace(1, "CFiPblmOps::allocLunNumEle: new memory allocation failure.");
        return kNoMemory;
    }
    element->next = m_lunList;
    element->map.reset();
    for (uint32_t i = 0; i < getMinLunNum(); ++i) element->map.set(i);
    return kSuccess;
}

int CFiPblmOps::getCacheRecord(const char *path, std::vector<std::string> &values) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::getCacheRecord");
    FILE *f = path != nullptr ? std::fopen(path, "r") : nullptr;
    if (f == nullptr) {
        trace(1, "CFiPblmOps::getCacheRecord ERROR: fopen failure file=[%s]\n", orNull(path));
        return kCacheFileError;
    }
    char buffer[kRecordBuffer];
    if (std::fgets(buffer, sizeof buffer, f) == nullptr) {
        trace(1, "CFiPblmOps::getCacheRecord ERROR: fgets failure with file=[%s]\n", orNull(path));
        std::fclose(f);
        return kCacheFileError;
    }
    std::fclose(f);
    trace(6, "CFiPblmOps::getCacheRecord got Cache Record=[%s]\n", buffer);
    values.emplace_back(buffer);
    return kSuccess;
}

int CFiPblmOps::getKeyValue(const char *key, std::vector<std::string> &values) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::getKeyValue");
    if (key == nullptr) {
        trace(1, "CFiPblmOps::getKeyValue ERROR: key is NULL");
        return kInvalidArgument;
    }
    if (!exists(key)) {
        trace(6, "CFiPblmOps::getKeyValue No Cache Record");
        return kSuccess;
    }
    int status = getCacheRecord(key, values);
    if (status != kSuccess) {
        trace(1, "CFiPblmOps::getKeyValue ERROR in getCacheRecord err=[%d]\n", status);
        return status;
    }
    return kSuccess;
}

int CFiPblmOps::getKeyValue(const char *key, int &value) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::getKeyValue");
    value = -1;
    std::vector<std::string> values;
    int status = getKeyValue(key, values);
    if (status == kSuccess && !values.empty()) {
        long long n = toNumber(values.front().c_str());
        value = n >= 0 && n <= 255 ? static_cast<int>(n) : -1;
    }
    return status;
}

int CFiPblmOps::setKeyValue(const char *key, const std::vector<std::string> &values, const char *enclosureId) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::setKeyValue");
    if (key == nullptr) {
        trace(1, "CFiPblmOps::setKeyValue ERROR: key is NULL");
        return kInvalidArgument;
    }
    if (values.empty()) {
        trace(1, "CFiPblmOps::setKeyValue ERROR: no value to store in file=[%s]\n", key);
        return kInvalidArgument;
    }

    // Written to a sibling and renamed over the record, so that the record
    // always holds one whole value.
    std::string path(key);
    size_t slash = path.rfind(kSep);
    std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // Cut so that the sibling's name stays within the folder's name limit.
    std::string temp = directory + kTempPrefix + name.substr(0, 200) + ".XXXXXX";
    int fd = ::mkstemp(&temp[0]);
    FILE *f = nullptr;
    if (fd >= 0) {
        ::fchmod(fd, 0644);
        f = ::fdopen(fd, "w");
        if (f == nullptr) {
            ::close(fd);
            ::unlink(temp.c_str());
        }
    }
    if (f == nullptr) {
        trace(1, "CFiPblmOps::setKeyValue ERROR: fopen failure file=[%s]\n", key);
        return kCacheFileError;
    }
    bool written = std::fputs(values.front().c_str(), f) >= 0 && std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0;
    written = std::fclose(f) == 0 && written;
    if (!written || std::rename(temp.c_str(), key) != 0) {
        trace(1, "CFiPblmOps::setKeyValue ERROR: fputs failure with file=[%s]\n", key);
        ::unlink(temp.c_str());
        return kCacheFileError;
    }

    if (enclosureId == nullptr) {
        trace(2, "CFiPblmOps::setKeyValue : No entry to be set in the bit Map because enclosureId is passed as "
                 "NULL.\n");
        return kInvalidArgument;
    }
    lunNum *map = nullptr;
    if (!getEnclMap(enclosureId, map)) {
        trace(6, "CFiPblmOps::setKeyValue : No bit Map for the enclosureId=[%s].\n", enclosureId);
    } else {
        long long n = toNumber(values.front().c_str());
        if (inRange(n)) {
            map->map.set(static_cast<size_t>(n));
            trace(6, "CFiPblmOps::setKeyValue has set lun num [%d] in the lun map.\n", static_cast<int>(n));
        }
    }
    return kSuccess;
}

int CFiPblmOps::setKeyValue(const std::string &key, const WString &deviceId, const std::string &enclosureId,
                            int lun) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::setKeyValue");
    trace(3, "LUNNO passed to setKeyValue is [%d]", lun);
    int status = setKeyValue(key.c_str(), std::vector<std::string>{std::to_string(lun)}, enclosureId.c_str());
    if (status != kSuccess) return status;
    WString devKey;
    std::string device = CFiStringTool::toNarrow(deviceId);
    if (CFiConfigurationPathTool::getDevKey(device, devKey) != 0) {
        // Not an identifier the path tool can place: there is no device record to drop.
        trace(1, "CFiPblmOps::setKeyValue ERROR: no device cache path for [%s]", device.c_str());
        return kInvalidArgument;
    }
    std::string devPath = CFiStringTool::toNarrow(devKey);
    trace(3, " getdevKey returned [%s]", devPath.c_str());
    return rmCacheRecord(devPath.c_str());
}

bool CFiPblmOps::getEnclMap(const char *enclosureId, lunNum *&map) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::getEnclMap");
    map = nullptr;
    if (enclosureId == nullptr) return false;
    auto find = [this, enclosureId]() -> lunNum * {
        for (lunNum *m = m_lunList; m != nullptr; m = m->next)
            if (strcasecmp(m->enclId.c_str(), enclosureId) == 0) return m;
        return nullptr;
    };
    // A new, empty map at the head of the list.
    auto add = [this, enclosureId]() -> lunNum * {
        lunNum *element = nullptr;
        if (allocLunNumEle(element) != kSuccess) {
            trace(1, "CFiPblmOps::getEnclMap new memory alloc failure.");
            return nullptr;
        }
        element->enclId = enclosureId;
        m_lunList = element;
        return element;
    };
    if (m_lunList == nullptr) {
        if (!refreshCache(enclosureId, nullptr)) {
            trace(1, "CFiPblmOps::getEnclMap refreshCache returned false.");
            return false;
        }
        if (m_lunList == nullptr && add() == nullptr) return false;
    }
    if ((map = find()) != nullptr) {
        trace(6, "CFiPblmOps::getEnclMap got Lun Map for enclId=[%s].\n", enclosureId);
        return true;
    }
    trace(6, "CFiPblmOps::getEnclMap No Lun Map for enclId=[%s].\n", enclosureId);
    // The enclosure's records are read in before its numbers are handed
    // out; a map that started empty would offer numbers already taken.
    refreshCache(enclosureId, nullptr);
    if ((map = find()) == nullptr && (map = add()) == nullptr) return false;
    trace(6, "CFiPblmOps::getEnclMap Added a Lun Map for enclId=[%s].\n", enclosureId);
    return true;
}

bool CFiPblmOps::refreshCache(const char *enclosureId, const int *lun) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::refreshCache");
    WString cacheDir;
    CFiConfigurationPathTool::getCacheLocationInfo(cacheDir);
    std::string directory = CFiStringTool::toNarrow(cacheDir) + "luns" + kSep +
                            enclosureFolder(orNull(enclosureId)) + kSep;
    if (!scanCache(enclosureId, directory, lun)) {
        trace(1, "CFiPblmOps::refreshCache scanCache returned false.");
        return false;
    }
    return true;
}

bool CFiPblmOps::scanCache(const char *enclosureId, const std::string &directory, const int *lun) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::scanCache");
    DIR *dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        // No folder yet: the enclosure has no records, which is no failure.
        if (errno == ENOENT) return true;
        WString wide = CFiStringTool::toWide(directory);
        trace(1, "CFiPblmOps::refreshCache opendir failure for path=[%S].", wide.c_str());
        return false;
    }
    while (dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        if (std::strncmp(name, kTempPrefix, sizeof kTempPrefix - 1) == 0) continue;
        std::string path = directory + name;
        if (lun != nullptr) rmLunPathRecord(enclosureId, name, path.c_str(), *lun);
        else fillBitMap(enclosureId, path.c_str());
    }
    ::closedir(dir);
    return true;
}

void CFiPblmOps::fillBitMap(const char *enclosureId, const char *path) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::fillBitMap");
    std::string encl = orNull(enclosureId);
    lunNum *map = nullptr;
    for (lunNum *m = m_lunList; m != nullptr && map == nullptr; m = m->next)
        if (m->enclId == encl) map = m;
    if (map == nullptr) {
        if (allocLunNumEle(map) != kSuccess) {
            trace(1, "CFiPblmOps::fillBitMap new memory alloc failure.");
            return;
        }
        map->enclId = encl;
        m_lunList = map;
    }
    std::vector<std::string> values;
    int status = getCacheRecord(path, values);
    if (status != kSuccess) {
        trace(2, "CFiPblmOps::fillBitMap ignore failure in getCacheRecord err=[%d].", status);
        return;
    }
    long long n = toNumber(values.front().c_str());
    if (inRange(n)) {
        map->map.set(static_cast<size_t>(n));
        trace(6, "CFiPblmOps::fillBitMap has set lun num [%d] in the lun map.", static_cast<int>(n));
    }
}

bool CFiPblmOps::getNewLunNum(const char *enclosureId, std::vector<std::string> &values) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::getNewLunNum");
    lunNum *map = nullptr;
    if (!getEnclMap(enclosureId, map)) {
        trace(2, "CFiPblmOps::getNewLunNum No Lun map present on the system.\n");
        return false;
    }
    bool first = true;
    for (uint32_t n = getMinLunNum(); n <= getMaxLunNum() && n < kLunPositions; ++n) {
        if (map->map.test(n)) continue;
        values.push_back(std::to_string(n));
        if (first) {
            trace(6, "CFiPblmOps::getNewLunNum got first Lun num=[%d].\n", static_cast<int>(n));
            first = false;
        }
    }
    if (first) {
        trace(6, "CFiPblmOps::getNewLunNum LUN num not able to find free LUN num .\n");
        return false;
    }
    return true;
}

bool CFiPblmOps::getNewValue(const char *enclosureId, std::vector<std::string> &values) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::getNewValue");
    if (!getNewLunNum(enclosureId, values))
        trace(6, "CFiPblmOps::getNewValue - Unable to suggest a new LUN Number.\n");
    return true;
}

bool CFiPblmOps::getNewValue(const char *enclosureId, std::vector<int> &values) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::getNewValue");
    std::vector<std::string> texts;
    getNewValue(enclosureId, texts);
    for (const std::string &t : texts) {
        long long n = toNumber(t.c_str());
        if (n >= 0 && n <= 255) values.push_back(static_cast<int>(n));
    }
    return true;
}

void CFiPblmOps::resetLunNum(const char *path, int lun) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::resetLunNum");
    if (path == nullptr || lun < 0 || static_cast<size_t>(lun) >= kLunPositions) return;
    std::string text(path);
    for (lunNum *m = m_lunList; m != nullptr; m = m->next) {
        // The enclosure's folder as a whole path component: "ENC1" must not
        // match inside ".../ENC10/...".
        std::string folder = std::string(1, kSep) + enclosureFolder(m->enclId) + kSep;
        if (text.find(folder) == std::string::npos) continue;
        m->map.reset(static_cast<size_t>(lun));
        trace(6, "CFiPblmOps::resetLunNum has reset lun num [%d] in the lun map.\n", lun);
        return;
    }
}

int CFiPblmOps::rmCacheRecord(const char *key) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::rmCacheRecord");
    if (key == nullptr) {
        trace(1, "INFO:CFiPblmOps::rmCacheRecord - key is empty, nothing to remove.");
        return kInvalidArgument;
    }
    if (!exists(key)) return kSuccess;
    const std::string lunsFolder = std::string(1, kSep) + "luns" + kSep;
    if (std::string(key).find(lunsFolder) != std::string::npos) {
        std::vector<std::string> values;
        int status = getCacheRecord(key, values);
        if (status != kSuccess) {
            trace(2, "CFiPblmOps::rmCacheRecord ignore failure in getCacheRecord err=[%d].", status);
        } else {
            long long n = toNumber(values.front().c_str());
            if (inRange(n)) {
                resetLunNum(key, static_cast<int>(n));
                trace(6, "CFiPblmOps::rmCacheRecord has reset lun num [%d] in the lun map.", static_cast<int>(n));
            }
        }
    }
    if (::unlink(key) == 0)
        trace(6, "INFO:CFiPblmOps::rmCacheRecord file=[%s] removed successfully", key);
    else
        trace(6, "INFO:CFiPblmOps::rmCacheRecord failure for removing file=[%s]", key);
    return kSuccess;
}

void CFiPblmOps::rmLunPathRecord(const char *, const char *entryName, const char *path, int lun) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::rmLunPathRecord");
    std::vector<std::string> values;
    int status = getCacheRecord(path, values);
    if (status != kSuccess) {
        trace(1, "CFiPblmOps::rmLunPathRecord : getCacheRecord returned err=[%d]. Cannot remove the cache record.",
              status);
        return;
    }
    if (toNumber(values.front().c_str()) != lun) return;
    trace(6, "CFiPblmOps::rmLunPathRecord got cache record for lun num [%d].", lun);
    if (rmCacheRecord(path) != kSuccess) {
        trace(1, "CFiPblmOps::rmLunPathRecord failed to remove cache record for lun num [%d].", lun);
        return;
    }
    trace(6, "CFiPblmOps::rmLunPathRecord successfully removed cache record for lun num [%d].", lun);
    WString devKey;
    // Not an identifier: there is no device record of it.
    const bool placed = CFiConfigurationPathTool::getDevKey(orNull(entryName), devKey) == 0;
    std::string devPath = CFiStringTool::toNarrow(devKey);
    if (placed && rmCacheRecord(devPath.c_str()) == kSuccess)
        trace(6, "CFiPblmOps::rmLunPathRecord successfully removed cache record for devicepath=[%s].",
              orNull(entryName));
    else
        trace(1, "CFiPblmOps::rmLunPathRecord failed to remove cache record for devicepath=[%s].", orNull(entryName));
}

int CFiPblmOps::rmLunCacheRecord(const char *enclosureId, int lun) {
    CFiTraceLogFunction tf(m_traceLog, "kelm_pdk_4_4::CFiPblmOps::rmLunCacheRecord");
    if (enclosureId == nullptr) {
        trace(1, "INFO:CFiPblmOps::rmLunCacheRecord - enclId is empty, cannot identify the cache record.");
        return kInvalidArgument;
    }
    if (!inRange(lun)) {
        trace(1, "CFiPblmOps::rmLunCacheRecord invalid lun num [%d] specified.\n", lun);
        return kInvalidArgument;
    }
    if (!refreshCache(enclosureId, &lun)) {
        trace(1, "CFiPblmOps::rmLunCacheRecord refreshCache returned failure for lun num [%d].\n", lun);
        return kScanFailed;
    }
    return kSuccess;
}

} // namespace kelm_pdk_4_4

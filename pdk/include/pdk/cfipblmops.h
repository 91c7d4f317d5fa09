// The LUN number cache: small one-value record files under the install
// root's CacheFiles folder, and per storage enclosure an in-memory map of
// the LUN numbers already taken, so that a provider can store a value under
// a key, read it back and ask for free LUN numbers of an enclosure.
//
// A key is the full path of one record file, as the configuration path tool
// builds it (CFiConfigurationPathTool::getLunKey / getDevKey). A record holds
// the value as written (no line end added); it is read back as its first
// line, at most 1023 characters.
//
// Statuses: 0 success, 3 invalid argument, 5 memory exhausted, 26 a record
// could not be opened, read or written, 1 (rmLunCacheRecord) the enclosure's
// folder could not be scanned. Nothing throws.
//
// A record is replaced whole: the value goes to a hidden sibling file that is
// then renamed over the record, so a reader (or a writer killed half-way)
// sees the old value or the new one, never a mixture; of two writers of one
// key, the last rename wins.
//
// The object has no lock: calls on one object must not overlap.
#ifndef PDK_CFIPBLMOPS_H
#define PDK_CFIPBLMOPS_H

#include "pdk/cfibase.h"

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

namespace kelm_pdk_4_4 {

class CFiPblmOps : public virtual CFiTraceable {
public:
    CFiPblmOps();
    ~CFiPblmOps() override;
    CFiPblmOps(const CFiPblmOps &) = delete;
    CFiPblmOps &operator=(const CFiPblmOps &) = delete;

    // Numbers handed out lie in minimum..maximum; maximum is bounded to 254,
    // a minimum above 254 to 255 (nothing is handed out).
    int setLunNumRange(uint32_t minimum, uint32_t maximum);

    // The record's first line appended to values; a missing record is 0 with
    // values unchanged.
    int getKeyValue(const char *key, std::vector<std::string> &values);
    // The record as a LUN number: -1 when missing or outside 0..255.
    int getKeyValue(const char *key, int &value);

    // Stores values[0] under key and, with an enclosure, marks the number in
    // that enclosure's map. No enclosure: the record is written and 3 returned.
    int setKeyValue(const char *key, const std::vector<std::string> &values, const char *enclosureId);
    // Stores the LUN number and drops the device's device-cache record.
    int setKeyValue(const std::string &key, const WString &deviceId, const std::string &enclosureId, int lunNum);

    // The free numbers of the enclosure, lowest first. Always true: an empty
    // list says that none could be suggested.
    bool getNewValue(const char *enclosureId, std::vector<std::string> &values);
    bool getNewValue(const char *enclosureId, std::vector<int> &values);

    int rmCacheRecord(const char *key);
    // Removes every LUN record of the enclosure holding lunNum, with its
    // device-cache record and its mark in the map.
    int rmLunCacheRecord(const char *enclosureId, int lunNum);

private:
    static constexpr size_t kLunPositions = 255;   // LUN numbers 0 to 254

    struct lunNum {
        lunNum *next = nullptr;
        std::bitset<kLunPositions> map;   // set = taken
        std::string enclId;
    };

    uint32_t getMinLunNum() const { return m_minLunNum; }
    uint32_t getMaxLunNum() const { return m_maxLunNum; }
    bool inRange(long long value) const;
    int allocLunNumEle(lunNum *&element);
    int getCacheRecord(const char *path, std::vector<std::string> &values);
    void fillBitMap(const char *enclosureId, const char *path);
    bool scanCache(const char *enclosureId, const std::string &directory, const int *lunNum);
    bool refreshCache(const char *enclosureId, const int *lunNum);
    bool getEnclMap(const char *enclosureId, lunNum *&map);
    bool getNewLunNum(const char *enclosureId, std::vector<std::string> &values);
    void resetLunNum(const char *path, int lunNum);
    void rmLunPathRecord(const char *enclosureId, const char *entryName, const char *path, int lunNum);

    uint32_t m_minLunNum = 0;
    uint32_t m_maxLunNum = 254;
    lunNum *m_lunList = nullptr;
};

} // namespace kelm_pdk_4_4

#endif // PDK_CFIPBLMOPS_H

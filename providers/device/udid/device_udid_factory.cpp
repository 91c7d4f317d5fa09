#include "udid/device_udid_factory.h"

#include "pdk/cfitracelog.h"

#include <memory>

using namespace kelm_pdk_4_4;

namespace {
// A UDID shorter than this cannot hold even its prefix.
constexpr size_t kMinUdidLength = 8;
} // namespace

CUDIDFactory::CUDIDFactory() {
    m_generators.push_back(new CHpMsaUdidGenerator("HP", "MSA"));
    m_generators.push_back(new CHpEvaUdidGenerator("HP", "HSV"));
    m_generators.push_back(new CIbmUdidGenerator("IBM", "TOTALSTORAGE"));
    m_generators.push_back(new CIbmDsUdidGenerator("IBM", "DISKSYSTEM"));
    m_generators.push_back(new CEmcClariionUdidGenerator("DGC", ""));
    m_generators.push_back(new CEmcSymmetrixUdidGenerator("EMC", "SYMMETRIX"));
    m_generators.push_back(new CHitachiUdidGenerator("HITACHI", "HDS"));
    m_generators.push_back(new CLsiUdidGenerator("ENGENIO", "UNIVERSAL"));
    m_generators.push_back(new CNetAppUdidGenerator("NETAPP", "LUN"));
    m_generators.push_back(new CDefaultUdidGenerator("", ""));
}

CUDIDFactory::~CUDIDFactory() {
    for (CUdidGenerator *g : m_generators) delete g;
}

void CUDIDFactory::registerTraceLog(const CFiTraceLogPtr &log) {
    CFiTraceable::setTraceLog(log);
    m_pnpManager.registerTraceLog(log);
    m_dmpManager.registerTraceLog(log);
    for (CUdidGenerator *g : m_generators) g->setTraceLog(log);
}

std::vector<std::string> CUDIDFactory::getGeneratorNames() {
    std::vector<std::string> names;
    for (CUdidGenerator *g : m_generators) names.push_back(g->getGeneratorName());
    return names;
}

void CUDIDFactory::setSimulationMap(const DeviceMap &simulationMap) { m_simulationMap = simulationMap; }

std::string CUDIDFactory::getUniqueDeviceID(CScsiDeviceData *device) {
    std::string generatorName;
    return getUniqueDeviceID(device, generatorName);
}

std::string CUDIDFactory::getUniqueDeviceID(CScsiDeviceData *device, std::string &generatorName,
                                            std::vector<std::string> *refusals) {
    CFiTraceLogFunction traceScope(m_traceLog, "CUDIDFactory::getUniqueDeviceID");
    generatorName.clear();
    if (device == nullptr) return std::string();
    if (!m_simulationMap.empty()) {
        DeviceMap::const_iterator it = m_simulationMap.find(device->m_deviceName);
        if (it != m_simulationMap.end()) {
            generatorName = "simulation";
            return UdidUpperCase(it->second.udid);
        }
    }
    for (CUdidGenerator *g : m_generators) {
        if (!g->claimDevice(device)) {
            if (m_explain != nullptr) m_explain->declined(g->getGeneratorName());
            continue;
        }
        try {
            std::string udid = g->getUniqueDeviceIDPrefix(device);
            udid += g->getUniqueDeviceIDSuffix(device);
            generatorName = g->getGeneratorName();
            if (m_explain != nullptr) m_explain->named(generatorName);
            return UdidUpperCase(udid);
        } catch (const CUdidGeneratorException &e) {
            if (m_explain != nullptr) m_explain->refused(g->getGeneratorName(), e.getMessageId());
            trace(1, "WARNING: Invalid scsi device data, skipping device.");
            trace(4, "CUDIDFactory::getUniqueDeviceID() %s: generator %s: %s", device->m_deviceName.c_str(),
                  g->getGeneratorName().c_str(), e.getMessageId().c_str());
            if (refusals != nullptr) refusals->push_back(g->getGeneratorName() + ": " + e.getMessageId());
        }
    }
    return std::string();
}

std::string CUDIDFactory::explainUniqueDeviceID(CScsiDeviceData *device, CUdidExplanation &explanation,
                                                std::string &generatorName) {
    // The generators report only while this call runs, whatever it throws.
    struct Reporting {
        CUDIDFactory &factory;
        Reporting(CUDIDFactory &f, CUdidExplanation *e) : factory(f) { set(e); }
        ~Reporting() { set(nullptr); }
        void set(CUdidExplanation *e) {
            factory.m_explain = e;
            for (CUdidGenerator *g : factory.m_generators) g->setExplanation(e);
        }
    } reporting(*this, &explanation);
    return getUniqueDeviceID(device, generatorName);
}

void CUDIDFactory::addRecords(std::vector<CScsiDeviceData *> &records, DeviceMap &map) {
    // Owned here from the start, so an exception from a generator does not
    // leak the records.
    std::vector<std::unique_ptr<CScsiDeviceData>> owned;
    for (CScsiDeviceData *r : records) owned.emplace_back(r);
    records.clear();
    for (const std::unique_ptr<CScsiDeviceData> &record : owned) {
        if (!record) continue;
        // A disk that never answered INQUIRY (gone, or failing) would get the
        // default rule's path-and-host text, which names no disk.
        std::string udid = record->stdInquiry().present() ? getUniqueDeviceID(record.get()) : std::string();
        if (udid.size() < kMinUdidLength) {
            trace(2, "WARNING: invalid UDID for device %s, assigned empty UDID", record->m_deviceName.c_str());
            udid.clear();
        }
        SDeviceInfo info;
        info.dmpClaimLevel = 0;
        info.deviceName = record->m_deviceName;
        info.udid = udid;
        map[record->m_deviceName] = info;
    }
}

DeviceMap CUDIDFactory::enumerateDeviceMap(bool rescanBus, bool second, bool third) {
    CFiTraceLogFunction traceScope(m_traceLog, "CUDIDFactory::enumerateDeviceMap");
    std::vector<CScsiDeviceData *> records = m_pnpManager.rescan(rescanBus, second, third);
    m_deviceMap.clear();
    addRecords(records, m_deviceMap);
    trace(3, "Printing m_deviceMap");
    printDeviceMap(m_deviceMap);
    return m_deviceMap;
}

DeviceMap CUDIDFactory::validateDeviceMap(const std::string &deviceName) {
    CFiTraceLogFunction traceScope(m_traceLog, "CUDIDFactory::validateDeviceMap");
    std::vector<CScsiDeviceData *> records = m_pnpManager.validateDevice(deviceName);
    DeviceMap map;
    addRecords(records, map);
    return map;
}

void CUDIDFactory::logMissing(const char *deviceName) {
    trace(2, "CUDIDFactory::getCachedUniqueDeviceID() Device %s not found, map contents are:", deviceName);
    for (const DeviceMap::value_type &entry : m_deviceMap)
        trace(2, "\t\t[%s] : [%s]\n", entry.first.c_str(), entry.second.udid.c_str());
}

std::string CUDIDFactory::getCachedUniqueDeviceID(const char *deviceName, bool rescanIfMissing) {
    CFiTraceLogFunction traceScope(m_traceLog, "CUDIDFactory::getCachedUniqueDeviceID");
    if (deviceName == nullptr) return std::string();
    if (!m_simulationMap.empty()) {
        DeviceMap::const_iterator it = m_simulationMap.find(deviceName);
        if (it != m_simulationMap.end()) return UdidUpperCase(it->second.udid);
    }
    bool fresh = false;
    if (m_deviceMap.empty()) {
        trace(6, "CUDIDFactory::getCachedUniqueDeviceID() Device map is empty, re-enumerating.");
        enumerateDeviceMap(false, false, false);
        fresh = true;
    }
    if (m_deviceMap.empty()) return std::string();

    DeviceMap::const_iterator it = m_deviceMap.find(deviceName);
    if (it != m_deviceMap.end()) {
        if (fresh) return UdidUpperCase(it->second.udid);
        // A disk that no longer answers comes back without a UDID: missing.
        DeviceMap confirmed = validateDeviceMap(deviceName);
        DeviceMap::const_iterator c = confirmed.find(deviceName);
        if (c != confirmed.end() && !c->second.udid.empty()) return UdidUpperCase(c->second.udid);
    }
    if (!rescanIfMissing) {
        logMissing(deviceName);
        return std::string();
    }
    enumerateDeviceMap(true, false, false);
    if (m_deviceMap.empty()) return std::string();
    it = m_deviceMap.find(deviceName);
    if (it != m_deviceMap.end()) return UdidUpperCase(it->second.udid);
    logMissing(deviceName);
    return std::string();
}

void CUDIDFactory::printDeviceMap(const DeviceMap &deviceMap) {
    for (const DeviceMap::value_type &entry : deviceMap) {
        const SDeviceInfo &info = entry.second;
        trace(3, "Uid [%s] \tDeviceName [%s] \tdmpClaimLevel [%d]", info.udid.c_str(), info.deviceName.c_str(),
              static_cast<int>(info.dmpClaimLevel));
        for (const std::string &path : info.nativeDevicePaths)
            trace(3, "DeviceName [%s] \tNativePath [%s]", info.deviceName.c_str(), path.c_str());
    }
}

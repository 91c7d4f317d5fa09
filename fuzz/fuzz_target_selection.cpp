// Fuzzes snapshot target selection: the first line of the input is the node
// name, the rest the value of "snapshot_resource_spec". A selected target
// must be the node's UDID with only its LUN field replaced.
#include "pdk/cfiprivatedata.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfiudid.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace kelm_pdk_4_4;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    size_t eol = input.find('\n');
    const std::string name = input.substr(0, eol);
    const std::string resourceSpec = eol == std::string::npos ? std::string() : input.substr(eol + 1);

    std::wstring wideName = CFiStringTool::toStdWide(name);
    kelm_objid obj{};
    obj.name = const_cast<wchar_t *>(wideName.c_str());
    CFiPrivateDataPtr pd(new CFiPrivateData(&obj, false));
    pd->configDataList(1).setValue(CFiPrivateData::kSnapshotResourceSpec, resourceSpec);
    int rc = pd->selectTargetFromConfigData();
    if (rc != 0 && rc != 6) std::abort();
    const std::string target = pd->getConfiguredTarget();
    if (rc == 6) {
        if (!target.empty()) std::abort();
        return 0;
    }
    // Names and values pass through the wide conversion: compare after it.
    const std::string udidText = CFiStringTool::toNarrow(wideName);
    CFiUdid node(udidText);
    CFiUdid chosen(target);
    if (!node.m_complete || chosen.m_vendor != node.m_vendor || chosen.m_product != node.m_product ||
        chosen.m_enclosure != node.m_enclosure || pd->getTargets().empty() || chosen.m_lun != pd->getTargets().front())
        std::abort();
    if (target.compare(0, udidText.size() - node.m_lun.size(), udidText, 0, udidText.size() - node.m_lun.size()) != 0)
        std::abort();
    return 0;
}

// Fuzzes snapshot target selection: the first line of the input is the node
// name, the rest the value of "snapshot_resource_spec". A selected target
// must be the node's UDID with only its LUN field replaced.
#include "fuzz_target.h"
#include "pdk/cfiprivatedata.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfiudid.h"

using namespace kelm_pdk_4_4;

FUZZ_TEXT_TARGET(input) {
    size_t eol = input.find('\n');
    const std::string name = input.substr(0, eol);
    const std::string resourceSpec = eol == std::string::npos ? std::string() : input.substr(eol + 1);

    std::wstring wideName = CFiStringTool::toStdWide(name);
    kelm_objid obj{};
    obj.name = const_cast<wchar_t *>(wideName.c_str());
    CFiPrivateDataPtr pd(new CFiPrivateData(&obj, false));
    pd->configDataList(1).setValue(CFiPrivateData::kSnapshotResourceSpec, resourceSpec);
    int rc = pd->selectTargetFromConfigData();
    const std::string target = pd->getConfiguredTarget();
    require(rc == 0 || (rc == 6 && target.empty()));
    if (rc == 6) return;
    // Names and values pass through the wide conversion: compare after it.
    const std::string udidText = CFiStringTool::toNarrow(wideName);
    CFiUdid node(udidText);
    CFiUdid chosen(target);
    require(node.m_complete && chosen.m_vendor == node.m_vendor && chosen.m_product == node.m_product &&
            chosen.m_enclosure == node.m_enclosure && !pd->getTargets().empty() &&
            chosen.m_lun == pd->getTargets().front());
    size_t kept = udidText.size() - node.m_lun.size();
    require(target.compare(0, kept, udidText, 0, kept) == 0);
}

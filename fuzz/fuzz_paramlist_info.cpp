// Fuzzes the parameter description list reader ("ConfigParamList").
#include "paramlist_fuzz_common.h"

using namespace kelm_pdk_4_4;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return paramlist_fuzz::run<CFiConfigParamInfoList>(data, size, [](CFiConfigParamInfoList &l) {
        l.addParamInfo(CFiConfigParamInfo("seed", 1, CFiConfigParamInfo::AUTO, 0, 9, "MSG", false, false));
    });
}

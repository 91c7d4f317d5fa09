// Fuzzes the parameter description list reader ("ConfigParamList").
#include "paramlist_fuzz_common.h"

using kelm_pdk_4_4::CFiConfigParamInfo;

FUZZ_TEXT_TARGET(text) {
    kelm_pdk_4_4::CFiConfigParamInfoList list;
    list.addParamInfo(CFiConfigParamInfo("seed", 1, CFiConfigParamInfo::AUTO, 0, 9, "MSG", false, false));
    paramlist_fuzz::run(text, list);
}

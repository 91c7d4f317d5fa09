// Fuzzes the parameter value list reader ("ConfigValueList").
#include "paramlist_fuzz_common.h"

FUZZ_TEXT_TARGET(text) {
    kelm_pdk_4_4::CFiConfigParamDataList list;
    list.setValue("seed", "v");
    paramlist_fuzz::run(text, list);
}

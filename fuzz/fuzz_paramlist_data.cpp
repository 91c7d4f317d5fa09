// Fuzzes the parameter value list reader ("ConfigValueList").
#include "paramlist_fuzz_common.h"

using namespace kelm_pdk_4_4;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return paramlist_fuzz::run<CFiConfigParamDataList>(data, size,
                                                       [](CFiConfigParamDataList &l) { l.setValue("seed", "v"); });
}

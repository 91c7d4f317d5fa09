// Fuzzes the format option list reader ("FormatOptionValueList").
#include "paramlist_fuzz_common.h"

using namespace kelm_pdk_4_4;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return paramlist_fuzz::run<CFiFormatOptionList>(data, size,
                                                    [](CFiFormatOptionList &l) { l.setValue("seed", "v"); });
}

// Fuzzes the format option list reader ("FormatOptionValueList").
#include "paramlist_fuzz_common.h"

FUZZ_TEXT_TARGET(text) {
    kelm_pdk_4_4::CFiFormatOptionList list;
    list.setValue("seed", "v");
    paramlist_fuzz::run(text, list);
}

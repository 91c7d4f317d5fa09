// Fuzzes the objctl argument reader: bytes become wide text (one byte per
// character, so ASCII grammar is easy to reach), which is parsed; the items
// read must come back unchanged through the writer.
#include "pdk/cfisession.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using kelm_pdk_4_4::CFiObjctlArgs;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::wstring text;
    text.reserve(size);
    for (size_t i = 0; i < size; ++i) text.push_back(static_cast<wchar_t>(data[i]));

    CFiObjctlArgs args(text.c_str());
    for (const auto &item : args.inputs) {
        // Tokens never hold a space, and the text stops at the first NUL.
        for (const auto *s : {&item.arg, &item.value, &item.type})
            for (size_t i = 0; i < s->length(); ++i)
                if ((*s)[i] == L' ' || (*s)[i] == L'\0') std::abort();
    }

    args.outputs = args.inputs;
    CFiObjctlArgs back(args.toXML().c_str());
    if (!(back.inputs == args.inputs)) std::abort();
    return 0;
}

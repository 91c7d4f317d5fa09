// Fuzzes the objctl argument reader: bytes become wide text (one byte per
// character, so ASCII grammar is easy to reach), which is parsed; the items
// read must come back unchanged through the writer.
#include "fuzz_target.h"
#include "pdk/cfisession.h"

using kelm_pdk_4_4::CFiObjctlArgs;

FUZZ_TEXT_TARGET(bytes) {
    std::wstring text;
    for (char c : bytes) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));

    CFiObjctlArgs args(text.c_str());
    for (const auto &item : args.inputs) {
        // Tokens never hold a space, and the text stops at the first NUL.
        for (const auto *s : {&item.arg, &item.value, &item.type})
            for (size_t i = 0; i < s->length(); ++i) require((*s)[i] != L' ' && (*s)[i] != L'\0');
    }

    args.outputs = args.inputs;
    require(CFiObjctlArgs(args.toXML().c_str()).inputs == args.inputs);
}

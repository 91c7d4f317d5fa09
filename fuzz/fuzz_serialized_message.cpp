// Fuzz target: the reader of serialised messages ("<SERIALIZED_MESSAGE ...").
// Any input must be read without touching memory past the record's length,
// and for a plain identifier, what the reader keeps must serialise to a text
// that reads back the same.
#include "fuzz_target.h"
#include "pdk/cfierror.h"
#include "pdk/cfistringtool.h"

#include <vector>

using namespace kelm_pdk_4_4;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // An exact-size copy without terminator: the reader must honour the length.
    std::vector<char> text(data, data + size);
    kel_msg_info info{text.empty() ? nullptr : text.data(), static_cast<uint32_t>(text.size())};
    CFiIcuMessage first(&info);

    const kel_msg_info *once = first.serialize();
    std::string onceText(once->text, once->length);
    CFiIcuMessage second(once);
    std::string twiceText(second.serialize()->text, second.serialize()->length);

    const std::string id = first.messageId();
    bool plainId = !id.empty() && id.size() < 900 && id.find_first_of("<>") == std::string::npos;
    if (plainId && (onceText != twiceText || second.messageId() != id)) __builtin_trap();

    first.formatMessage(CFiStringTool::toWide("{0} {1,number} {2,date} {3}"));
    return 0;
}

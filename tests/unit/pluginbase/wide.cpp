#include "wide.h"

namespace pbtest {

kelm_pdk_4_4::WString W(const wchar_t *s) {
    std::wstring tmp(s);
    return kelm_pdk_4_4::WString(tmp.data(), tmp.size());
}

} // namespace pbtest

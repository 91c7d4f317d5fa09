// Wide-string helpers of the plug-in base tests.
#ifndef TESTS_UNIT_PLUGINBASE_WIDE_H
#define TESTS_UNIT_PLUGINBASE_WIDE_H

#include "pdk/cfibase.h"

#include <string>

namespace pbtest {

// Out of line (wide.cpp): g++ 12 inlines ACE_String_Base's constructor from a
// pointer and then warns about an impossible memcpy bound (-Wstringop-overflow).
kelm_pdk_4_4::WString W(const wchar_t *s);

inline std::wstring str(const kelm_pdk_4_4::WString &s) { return std::wstring(s.c_str(), s.length()); }

} // namespace pbtest

#endif

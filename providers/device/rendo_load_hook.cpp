// The library's load hook (DllMain at home): thread notifications off at
// load, ICU's global clean-up at unload.
#include "platform/windows.h"

#include <dlfcn.h>
#include <unicode/uclean.h>

namespace {

__attribute__((constructor)) void rendoProcessAttach() {
    // A module handle is the module's base address.
    Dl_info info{};
    HMODULE self = nullptr;
    if (dladdr(reinterpret_cast<void *>(&rendoProcessAttach), &info) != 0) self = info.dli_fbase;
    DisableThreadLibraryCalls(self);
}

__attribute__((destructor)) void rendoProcessDetach() { u_cleanup(); }

} // namespace

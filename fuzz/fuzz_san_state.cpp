// Fuzzes the simulated SAN's state-file parser: whatever it accepts must
// format and parse back to the same text, and it never crashes on the rest.
#include "platform/simhost.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    rendo_sim::LuState state;
    std::string error;
    if (!rendo_sim::parseLuState(text, state, &error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    std::string formatted = rendo_sim::formatLuState(state);
    rendo_sim::LuState again;
    if (!rendo_sim::parseLuState(formatted, again, &error) || rendo_sim::formatLuState(again) != formatted)
        std::abort();
    if (again.reservation.key != state.reservation.key) std::abort();
    return 0;
}

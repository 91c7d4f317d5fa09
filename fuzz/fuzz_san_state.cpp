// Fuzzes the simulated SAN's state-file parser: whatever it accepts must
// format and parse back to the same text, and it never crashes on the rest.
#include "fuzz_target.h"
#include "platform/simhost.h"

FUZZ_TEXT_TARGET(text) {
    rendo_sim::LuState state, again;
    std::string error;
    if (!rendo_sim::parseLuState(text, state, &error)) return require(!error.empty());
    std::string formatted = rendo_sim::formatLuState(state);
    require(rendo_sim::parseLuState(formatted, again, &error) && rendo_sim::formatLuState(again) == formatted);
    require(again.reservation.key == state.reservation.key);
}

// kelm-host san show [--json] | san reset: the simulated SAN's shared array
// state (docs/simulated-san.md), the registrations, reservations and masking
// that hosts in other processes see.
#include "commands.h"
#include "json_writer.h"

#include "platform/simhost.h"

#include <cstdio>

namespace kelm_host {
namespace {

const char *const kForm = "san show [--json] | san reset";

const char *maskingName(rendo_sim::Masking m) {
    switch (m) {
    case rendo_sim::Masking::Masked: return "masked";
    case rendo_sim::Masking::UnmaskedByTest: return "unmasked by a test";
    case rendo_sim::Masking::UnmaskedByScenario: return "unmasked by the scenario";
    default: return "as each host describes it";
    }
}

const char *maskingWord(rendo_sim::Masking m) {
    switch (m) {
    case rendo_sim::Masking::Masked: return "masked";
    case rendo_sim::Masking::UnmaskedByTest: return "unmasked_by_test";
    case rendo_sim::Masking::UnmaskedByScenario: return "unmasked_by_scenario";
    default: return "unset";
    }
}

std::string keyHex(uint64_t key) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "0x%016llx", static_cast<unsigned long long>(key));
    return buf;
}

// The eight key bytes as text when every one is printable (host keys are
// eight ASCII characters); empty otherwise.
std::string keyText(uint64_t key) {
    std::string text;
    for (int shift = 56; shift >= 0; shift -= 8) {
        char c = static_cast<char>((key >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E) return std::string();
        text.push_back(c);
    }
    return text;
}

std::string keyForPeople(uint64_t key) {
    std::string text = keyText(key);
    return keyHex(key) + (text.empty() ? "" : " [" + text + "]");
}

void keyMembers(JsonWriter &json, uint64_t key) {
    json.member("key_hex", keyHex(key));
    std::string text = keyText(key);
    json.key("key_text");
    if (text.empty()) json.null();
    else json.value(text);
}

int show(const std::string &directory, bool asJson) {
    rendo_sim::SanStateDir dir(directory);
    std::vector<std::string> problems;
    std::vector<rendo_sim::LuState> units = dir.list(&problems);
    if (asJson) {
        JsonWriter json(stdout);
        json.beginObject();
        json.member("directory", directory);
        json.key("logical_units");
        json.beginArray();
        for (const auto &u : units) {
            const rendo_sim::ReservationState &r = u.reservation;
            json.beginObject();
            json.member("identity", u.identity);
            json.member("generation", r.generation);
            json.key("registrations");
            json.beginArray();
            for (const auto &g : r.registrations) {
                json.beginObject();
                json.member("initiator", g.initiator);
                json.member("target_port", g.targetPort);
                keyMembers(json, g.key);
                json.endObject();
            }
            json.endArray();
            json.key("reservation");
            if (!r.reserved) {
                json.null();
            } else {
                json.beginObject();
                json.member("holder", r.holder);
                json.member("target_port", r.holderTargetPort);
                json.member("type", static_cast<unsigned>(r.type));
                json.member("type_name", reservationTypeName(r.type));
                keyMembers(json, r.key);
                json.endObject();
            }
            json.member("masking", maskingWord(u.masking));
            json.endObject();
        }
        json.endArray();
        json.key("problems");
        json.beginArray();
        for (const auto &p : problems) json.value(p);
        json.endArray();
        json.endObject();
        return 0;
    }
    std::printf("state directory %s\n", directory.c_str());
    for (const auto &u : units) {
        const rendo_sim::ReservationState &r = u.reservation;
        std::printf("%s: generation %u, %zu registration(s), masking %s\n", u.identity.c_str(), r.generation,
                    r.registrations.size(), maskingName(u.masking));
        for (const auto &g : r.registrations)
            std::printf("  registered: %s, target port %u, key %s\n", g.initiator.c_str(), g.targetPort,
                        keyForPeople(g.key).c_str());
        if (r.reserved)
            std::printf("  reserved: %s, target port %u, type %u (%s), key %s\n", r.holder.c_str(), r.holderTargetPort,
                        static_cast<unsigned>(r.type), reservationTypeName(r.type), keyForPeople(r.key).c_str());
        else
            std::printf("  not reserved\n");
    }
    std::printf("%zu logical unit(s)\n", units.size());
    for (const auto &p : problems) std::printf("note: %s\n", p.c_str());
    return 0;
}

int runSan(ProviderHost &, const std::vector<std::string> &arguments) {
    std::vector<std::string> args = arguments;
    bool asJson = takeJsonFlag(args);
    if (args.size() != 1 || (args[0] != "show" && args[0] != "reset") || (asJson && args[0] != "show")) {
        std::fprintf(stderr, "usage: kelm-host %s\n", kForm);
        return 2;
    }
    std::string directory = rendo_sim::sanStateDirectory();
    if (directory.empty()) {
        std::printf("RENDO_SIM_STATE is empty: each process keeps its array state to itself\n");
        return 0;
    }
    if (args[0] == "show") return show(directory, asJson);
    rendo_sim::SanStateDir dir(directory);
    std::string error;
    std::vector<std::string> removed = dir.reset(&error);
    for (const auto &name : removed) std::printf("removed %s\n", name.c_str());
    std::printf("%zu state file(s) removed from %s\n", removed.size(), directory.c_str());
    if (!error.empty()) {
        std::fprintf(stderr, "kelm-host san reset: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

const CommandRegistration registration{
    {"san", "the simulated SAN's shared array state: show it, or reset it", kForm, &runSan, false}};

} // namespace
} // namespace kelm_host

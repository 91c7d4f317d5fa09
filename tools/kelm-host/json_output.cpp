// The pieces of --json output that several commands write alike.
#include "json_output.h"

#include "device_plugin.h"

#include <cstdio>

namespace kelm_host {

const char *statusName(int status) {
    switch (status) {
    case KEL_OK: return "KEL_OK";
    case KEL_EDELAYEDINIT: return "KEL_EDELAYEDINIT";
    case KEL_EINVAL: return "KEL_EINVAL";
    case KEL_ENOTSUP: return "KEL_ENOTSUP";
    case KEL_EMALLOC: return "KEL_EMALLOC";
    case KEL_EFAIL: return "KEL_EFAIL";
    case KEL_ENOVERSION: return "KEL_ENOVERSION";
    case KEL_ENODEV: return "KEL_ENODEV";
    case KEL_ECACHE: return "KEL_ECACHE";
    case KEL_EINITFAILED: return "KEL_EINITFAILED";
    case CDevicePlugin::kStatusReleaseFailed: return "RENDO_RELEASE_FAILED";
    case CDevicePlugin::kStatusReservedByOtherHost: return "RENDO_RESERVED_BY_OTHER_HOST";
    case CDevicePlugin::kStatusReserveFailed: return "RENDO_RESERVE_FAILED";
    case CDevicePlugin::kStatusReservedByOther: return "RENDO_RESERVED_BY_OTHER";
    case CDevicePlugin::kStatusNoReservation: return "RENDO_NO_RESERVATION";
    default: return "UNKNOWN";
    }
}

void printJsonFailure(const char *command, const std::string &error, const char *usage) {
    JsonWriter json(stdout);
    json.beginObject();
    json.member("command", command);
    json.member("ok", false);
    json.member("error", error);
    if (usage != nullptr) json.member("usage", std::string("kelm-host ") + usage);
    json.endObject();
}

void writeKey(JsonWriter &json, const std::string &key) {
    const std::string field = key.substr(0, 8); // what goes on the wire
    std::string hex;
    bool printable = !field.empty();
    for (size_t i = 0; i < 8; ++i) {
        unsigned char c = i < field.size() ? static_cast<unsigned char>(field[i]) : 0;
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", c);
        hex += pair;
        if (i < field.size() && (c < 0x20 || c > 0x7E)) printable = false;
    }
    json.beginObject();
    json.member("hex", hex);
    json.key("text");
    if (printable) json.value(field);
    else json.null();
    json.endObject();
}

} // namespace kelm_host

// The pieces of --json output that several commands write alike.
#ifndef KELM_HOST_JSON_OUTPUT_H
#define KELM_HOST_JSON_OUTPUT_H

#include "json_writer.h"

#include <string>

namespace kelm_host {

// The symbolic name of a provider status ("KEL_EINVAL", "RENDO_RESERVED_BY_OTHER_HOST", ...).
const char *statusName(int status);

// The object of a command that failed before its operation: its name, "ok"
// false, the error, and its usage when given.
void printJsonFailure(const char *command, const std::string &error, const char *usage);

// A reservation key as the 8 bytes of its SCSI field in hex, and as text when
// every byte is printable (null otherwise).
void writeKey(JsonWriter &json, const std::string &key);

} // namespace kelm_host

#endif // KELM_HOST_JSON_OUTPUT_H

// Process-wide registry of logged-in iSCSI sessions behind simulated disks.
// A target binds persistent reservation registrations to the session (the
// I_T nexus), so a session lives as long as the process: closing and
// reopening a disk finds the same session again.
#ifndef PLATFORM_ISCSI_SESSION_H
#define PLATFORM_ISCSI_SESSION_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rendo_sim {

// Bound on connect + login + the unit-attention sweep. Default 10 s.
void setIscsiLoginTimeout(std::chrono::milliseconds timeout);
std::chrono::milliseconds iscsiLoginTimeout();

// Sessions currently logged in (all identities and logical units).
size_t iscsiLoggedInSessionCount();

// Fixed-format sense data from the data segment of an iSCSI SCSI Response
// carrying CHECK CONDITION (2-byte SenseLength, then the sense bytes).
// Descriptor-format sense is converted; lengths are clamped to what arrived.
std::vector<uint8_t> fixedSenseFromSegment(const uint8_t *segment, size_t segmentLength);

} // namespace rendo_sim

#endif // PLATFORM_ISCSI_SESSION_H

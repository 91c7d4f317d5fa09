// VPD page 0x83 (device identification): its designators walked and printed
// the way sg_vpd prints them, so that what this provider reads can be set
// beside what multipath software and SCSI tools show for the same LUN.
//
// The walk is bounded by both the stored bytes and the page's own length
// field; a page that claims more than was stored, or a designator that runs
// past the end, is reported in `problems` and never read beyond.
#ifndef PROVIDERS_DEVICE_SCSITOOL_SCSI_DESIGNATORS_H
#define PROVIDERS_DEVICE_SCSITOOL_SCSI_DESIGNATORS_H

#include <cstdint>
#include <string>
#include <vector>

struct ScsiDesignator {
    uint32_t offset = 0;      // of the 4-byte descriptor header, within the page
    uint8_t protocol = 0;     // byte 0 bits 7-4
    uint8_t codeSet = 0;      // byte 0 bits 3-0
    bool piv = false;         // byte 1 bit 7: protocol is meaningful
    uint8_t association = 0;  // byte 1 bits 5-4
    uint8_t type = 0;         // byte 1 bits 3-0
    std::vector<uint8_t> id;  // the designator bytes (byte 4 on)
};

struct ScsiDesignatorList {
    std::vector<ScsiDesignator> designators;  // in page order, complete ones only
    std::vector<std::string> problems;        // malformed parts, in page order
};

// Walks page 0x83 as stored (header included, `length` bytes).
ScsiDesignatorList WalkDeviceIdPage(const uint8_t *page, uint32_t length);

// sg_vpd's names: "NAA", "Binary", "Addressed logical unit", "iSCSI"...
std::string ScsiDesignatorTypeName(uint8_t type);
std::string ScsiCodeSetName(uint8_t codeSet);
std::string ScsiAssociationName(uint8_t association);
std::string ScsiProtocolName(uint8_t protocol);

// The walked page as lines of text, indented by `indent` blanks, grouped by
// association as sg_vpd groups them; problems are printed as "malformed: ...".
// withOffsets adds the page bytes each designator occupies.
std::vector<std::string> FormatDeviceIdPage(const uint8_t *page, uint32_t length, unsigned indent = 0,
                                            bool withOffsets = false);

#endif // PROVIDERS_DEVICE_SCSITOOL_SCSI_DESIGNATORS_H

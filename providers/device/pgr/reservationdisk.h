// The reservation operations on one disk: SCSI-3 PERSISTENT RESERVE OUT and
// IN. ReservationDiskWin implements them through the Windows SCSI
// pass-through interface.
//
// Keys are the character keys of CPGRTool: each key field of a command
// receives the text's first 8 bytes, zero-filled when the text is shorter,
// and keys read back from a disk are the 8 bytes up to the first zero byte.
//
// Every command operation returns 0 or throws its own CPGRException class
// (pgrexception.h) with code 2 (device not opened), 3 (command failed) or 4
// (data buffer not set up).
#ifndef PROVIDERS_DEVICE_PGR_RESERVATIONDISK_H
#define PROVIDERS_DEVICE_PGR_RESERVATIONDISK_H

#include "pdk/cfibase.h"

#include <string>
#include <vector>

// One reservation held on a disk, as READ RESERVATION reports it.
struct SReservationRecord {
    std::string key; // the holder's key
    int type = 0;    // SCSI-3 reservation type, 0..15
};

// Reservation types, from the three flags of the reserve, release and
// preempt operations (allRegistrants overrides registrantsOnly).
//   exclusiveAccess registrantsOnly allRegistrants  type
//   false           false           false           1 Write Exclusive
//   true            false           false           3 Exclusive Access
//   false           true            false           5 Write Exclusive, Registrants Only
//   true            true            false           6 Exclusive Access, Registrants Only
//   false           any             true            7 Write Exclusive, All Registrants
//   true            any             true            8 Exclusive Access, All Registrants
class ReservationDisk : public virtual kelm_pdk_4_4::CFiTraceable {
public:
    ~ReservationDisk() override = default;

    virtual int reserveDisk(const std::string &key, bool exclusiveAccess, bool registrantsOnly,
                            bool allRegistrants) = 0;
    // ignoreExistingKey: REGISTER AND IGNORE EXISTING KEY instead of REGISTER.
    virtual int registerDisk(const std::string &key, bool ignoreExistingKey) = 0;
    // abort: PREEMPT AND ABORT instead of PREEMPT.
    virtual int premptDisk(const std::string &key, const std::string &victimKey, bool abort, bool exclusiveAccess,
                           bool registrantsOnly, bool allRegistrants) = 0;
    virtual int releaseDisk(const std::string &key, bool exclusiveAccess, bool registrantsOnly,
                            bool allRegistrants) = 0;
    // Registers the zero key over key, which removes key's registration.
    virtual int unregisterDisk(const std::string &key) = 0;
    virtual int clearDisk(const std::string &key) = 0;
    // Sends nothing.
    virtual int testUnitReady() = 0;
    // READ RESERVATION: the reservations the disk reports, in its order.
    virtual std::vector<SReservationRecord> readDiskReservation() = 0;
    // READ KEYS: the registered keys, in the disk's order (at most 30).
    virtual std::vector<std::string> readDiskRegistration() = 0;
};

#endif // PROVIDERS_DEVICE_PGR_RESERVATIONDISK_H

// Failures of the persistent-reservation commands. Every command of
// ReservationDisk reports failure by throwing its own class below, carrying
// one of the error codes; the reserve and release flows of the device
// provider catch them by class, most specific first.
#ifndef PROVIDERS_DEVICE_PGR_PGREXCEPTION_H
#define PROVIDERS_DEVICE_PGR_PGREXCEPTION_H

#include <cstdint>

// Error codes carried by CPGRException.
constexpr int32_t kPGRErrorOpenDevice = 2;    // the device could not be opened
constexpr int32_t kPGRErrorCommand = 3;       // pass-through failed or SCSI status not GOOD
constexpr int32_t kPGRErrorBufferSetup = 4;   // adapter properties unreadable or allocation failed

class CPGRException {
public:
    explicit CPGRException(int32_t code = 0) : m_code(code) {}
    virtual ~CPGRException() = default;
    int32_t getErrorCode() const { return m_code; }

private:
    int32_t m_code;
};

// One class per operation. The virtual base lets a handler for CPGRException
// catch them all; each most-derived constructor passes the code to it.
#define RENDO_PGR_FAILURE_CLASS_(Name)                                          \
    class Name : public virtual CPGRException {                                 \
    public:                                                                     \
        explicit Name(int32_t code = 0) : CPGRException(code) {}                \
    }

RENDO_PGR_FAILURE_CLASS_(CPGRReserveFail);
RENDO_PGR_FAILURE_CLASS_(CPGRRegisterFail);
RENDO_PGR_FAILURE_CLASS_(CPGRPreemptFail);
RENDO_PGR_FAILURE_CLASS_(CPGRReleaseFail);
RENDO_PGR_FAILURE_CLASS_(CPGRUnregisterFail);
RENDO_PGR_FAILURE_CLASS_(CPGRClearFail);
RENDO_PGR_FAILURE_CLASS_(CPGRReadReservationFail);
RENDO_PGR_FAILURE_CLASS_(CPGRReadRegistrationFail);
// Handled by the flows; no command throws it.
RENDO_PGR_FAILURE_CLASS_(CPGRRegisterKeyExist);

#undef RENDO_PGR_FAILURE_CLASS_

#endif // PROVIDERS_DEVICE_PGR_PGREXCEPTION_H

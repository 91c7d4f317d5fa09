// The reserve and release flows of the device provider: SCSI-3 persistent
// reservations of type 5 (Write Exclusive, Registrants Only) taken and
// released for this host's key, every failure turned into a status.
#include "device_plugin.h"

#include "device_guard.h"
#include "pgr/pgrexception.h"
#include "pgr/reservationdisk_wire.h"
#include "pgr/reservationdiskwin.h"

#include "pdk/cfitracelog.h"

#include <atomic>
#include <memory>

using namespace kelm_pdk_4_4;

namespace {

// Flag bits of import and deport that the flows consult.
constexpr int kFlagRegister = 0x4000; // reserve: register first; release: unregister after
constexpr int kFlagPreempt = 0x2000;  // reserve: another holder may be preempted
constexpr int kFlagVerify = 0x10000;  // release: first check that this host holds it
constexpr int kFlagRelease = 0x800;   // release: release the reservation

ReservationDisk *makeReservationDiskWin(const std::string &path) { return new ReservationDiskWin(path); }

std::atomic<CDevicePlugin::ReservationDiskFactory> g_reservationDiskFactory{&makeReservationDiskWin};

std::string joinKeys(const std::vector<std::string> &keys) {
    std::string joined;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i != 0) joined += ", ";
        joined += keys[i];
    }
    return joined;
}

bool listsKey(const std::vector<std::string> &keys, const std::string &hostKey) {
    for (const std::string &registeredKey : keys)
        if (registeredKey.find(hostKey) != std::string::npos) return true;
    return false;
}

} // namespace

void CDevicePlugin::setReservationDiskFactory(ReservationDiskFactory factory) {
    g_reservationDiskFactory.store(factory != nullptr ? factory : &makeReservationDiskWin);
}

std::unique_ptr<ReservationDisk> CDevicePlugin::createReservationDisk(const std::string &diskPath) {
    std::unique_ptr<ReservationDisk> disk(g_reservationDiskFactory.load()(diskPath));
    // Users reading the trace after a failed reservation need the commands'
    // own lines (which step failed, the system's error text): the command
    // object writes to the provider's log, held for it by the log manager.
    CFiTraceLogPtr log = m_pgrLogManager.isNull() ? CFiTraceLogPtr() : m_pgrLogManager->getTraceLog();
    disk->setTraceLog(log.isNull() ? m_traceLog : log);
    return disk;
}

// The handlers shared by both flows, in their order: the reservation
// failures inside, the provider's five around them (guardedCall), and
// anything else outside. Each writes its line and gives failureStatus.
template <class Steps>
int CDevicePlugin::runReservationFlow(const std::string &diskPath, int32_t guardLine, int failureStatus,
                                      Steps &&steps) {
    const char *path = diskPath.c_str();
    try {
        return guardedCall(
            m_errorManager, guardLine,
            [&]() -> int {
                try {
                    return steps();
                } catch (const CPGRReleaseFail &e) {
                    trace(1, "Failed to release disk [%s] with error [%d].", path, e.getErrorCode());
                } catch (const CPGRUnregisterFail &e) {
                    trace(1, "Failed to unregister disk [%s] with error [%d].", path, e.getErrorCode());
                } catch (const CPGRReserveFail &e) {
                    trace(1, "Failed to reserve disk [%s] with error [%d].", path, e.getErrorCode());
                } catch (const CPGRRegisterFail &e) {
                    trace(1, "Failed to register disk [%s] with error [%d].", path, e.getErrorCode());
                } catch (const CPGRRegisterKeyExist &e) {
                    trace(1, "Failed to register key due to existing key on disk [%s] with error [%d].", path,
                          e.getErrorCode());
                } catch (const CPGRPreemptFail &e) {
                    trace(1, "Failed to preempt disk [%s] with error [%d].", path, e.getErrorCode());
                } catch (const CPGRClearFail &e) {
                    trace(1, "Failed to clear disk [%s] with error [%d].", path, e.getErrorCode());
                } catch (const CPGRReadRegistrationFail &e) {
                    trace(1, "Failed to read registration on disk [%s] with error [%d].", path, e.getErrorCode());
                } catch (const CPGRReadReservationFail &e) {
                    trace(1, "Failed to read reservation on disk [%s] with error [%d].", path, e.getErrorCode());
                } catch (const CPGRException &e) {
                    trace(1, "PGR exeption was thrown during the operation on Disk [%s] with error [%d].", path,
                          e.getErrorCode());
                }
                return failureStatus;
            },
            failureStatus);
    } catch (...) {
        trace(4000, "Unknown exeption was thrown during the operation on Disk [%s].", path);
        return failureStatus;
    }
}

int CDevicePlugin::diskReserve(const std::string &diskPath, const std::string &key, int flags) {
    CFiTraceLogFunction scope(m_traceLog, "CDevicePlugin::diskReserve");
    trace(3, "CDevicePlugin::diskReserve - diskPath = %s", diskPath.c_str());
    trace(3, "CDevicePlugin::diskReserve - key = %s", key.c_str());
    trace(3, "CDevicePlugin::diskReserve - flags = %d", flags);
    const char *path = diskPath.c_str();
    // The disk reports keys as they fit its 8-byte fields; compare in that
    // form so that a longer key still recognises its own reservation.
    const std::string hostKey = pgr_wire::wireKeyText(key);

    return runReservationFlow(diskPath, kReserveGuardLine, kStatusReserveFailed, [&]() -> int {
        bool registered = false;
        std::unique_ptr<ReservationDisk> disk = createReservationDisk(diskPath);
        // Set from the REGISTER of a key the disk did not list before until
        // the reservation is this host's: a failure in between (a RESERVE
        // that loses a race, a time-out, a dropped link) must not leave the
        // host a registrant, with write access under another host's type-5
        // reservation that its own release would never remove. A command
        // that got no answer may have been carried out, so this holds from
        // the moment the REGISTER is sent.
        bool cleanUpOnFailure = false;
        auto steps = [&]() -> int {
            if (flags & kFlagRegister) {
                std::vector<std::string> keys = disk->readDiskRegistration();
                trace(3, "Found registration on disk [%s] using key(s) [%s].", path, joinKeys(keys).c_str());
                cleanUpOnFailure = !listsKey(keys, hostKey);
                if (disk->registerDisk(key, true) != 0) {
                    trace(1, "Failed to register key [%s] on device [%s]", key.c_str(), path);
                    return kStatusReserveFailed;
                }
                trace(3, "Host registration on device [%s] with key [%s] completed.", path, key.c_str());
                registered = true;
            }

            std::vector<SReservationRecord> records = disk->readDiskReservation();
            bool hostHoldsIt = false;
            for (const SReservationRecord &record : records) {
                trace(3, "Found reservation(%d) using key [%s] for disk [%s].", record.type, record.key.c_str(), path);
                if (record.key == hostKey) hostHoldsIt = true;
            }
            if (hostHoldsIt) trace(3, "Host already have reservation on device [%s] with key [%s]", path, key.c_str());

            if (!records.empty()) {
                // Only the first holder is ever preempted.
                const std::string victimKey = records.front().key;
                if (flags & kFlagPreempt) {
                    trace(3, "Prempting reservetion with key [%s].", victimKey.c_str());
                    if (disk->premptDisk(key, victimKey, true, false, true, false) != 0) {
                        trace(1, "FAILED to prempt the reservation for victim key[%s] using key [%s] on disk [%s].",
                              victimKey.c_str(), key.c_str(), path);
                        if (registered) disk->unregisterDisk(key);
                        return kStatusReserveFailed;
                    }
                    cleanUpOnFailure = false;
                    trace(3, "Successfully preempted the reservation on the disk [%s].", path);
                    trace(3,
                          "Registering disk [%s] with key [%s] again just in case  preempt operation has left some of "
                          "the paths unregistered.",
                          path, key.c_str());
                    if (disk->registerDisk(key, true) != 0) {
                        trace(1, "Register after preempt failed using key [%s] on device [%s]", key.c_str(), path);
                        return kStatusReserveFailed;
                    }
                    return 0;
                }
                if (hostHoldsIt) {
                    trace(3, "Host already have reservation on device [%s] with key [%s]", path, key.c_str());
                    return 0;
                }
                trace(1,
                      "Could not reserve the disk as the disk is already reserved by key [%s]But the preempt flag "
                      "is not set.",
                      victimKey.c_str());
                if (registered) disk->unregisterDisk(key);
                return kStatusReservedByOther;
            }

            if (disk->reserveDisk(key, false, true, false) != 0) {
                trace(1, "FAILED to reserve the disk [%s] with key [%s].", path, key.c_str());
                if (registered) disk->unregisterDisk(key);
                return kStatusReserveFailed;
            }
            trace(3, "Successfully reserved the disk [%s].", path);
            return 0;
        };
        try {
            return steps();
        } catch (...) {
            if (cleanUpOnFailure) {
                try {
                    disk->unregisterDisk(key);
                    trace(2, "Removed the registration with key [%s] on device [%s] after the failure.", key.c_str(),
                          path);
                } catch (...) {
                    trace(1, "Could not remove the registration with key [%s] on device [%s] after the failure.",
                          key.c_str(), path);
                }
            }
            throw;
        }
    });
}

int CDevicePlugin::diskRelease(const std::string &diskPath, const std::string &key, int flags) {
    CFiTraceLogFunction scope(m_traceLog, "CDevicePlugin::diskRelease");
    trace(3, "CDevicePlugin::diskRelease - diskPath = %s", diskPath.c_str());
    trace(3, "CDevicePlugin::diskRelease - key = %s", key.c_str());
    trace(3, "CDevicePlugin::diskRelease - flags = %d", flags);
    const char *path = diskPath.c_str();
    const std::string hostKey = pgr_wire::wireKeyText(key);

    return runReservationFlow(diskPath, kReleaseGuardLine, kStatusReleaseFailed, [&]() -> int {
        std::unique_ptr<ReservationDisk> disk = createReservationDisk(diskPath);

        if (flags & kFlagVerify) {
            bool found = false;
            for (const SReservationRecord &record : disk->readDiskReservation()) {
                trace(6, "Found reservation (%d) using key [%s] for disk [%s].", record.type, record.key.c_str(),
                      path);
                if (record.key == hostKey) {
                    found = true;
                    break;
                }
            }
            if (!found) {
                trace(1, "No reservation found for host on device [%s] with key [%s]", path, key.c_str());
                return kStatusNoReservation;
            }
        }

        if (!(flags & kFlagRelease)) return 0;

        // Removes this host's registration when the disk lists its key.
        auto unregisterHost = [&]() -> int {
            std::vector<std::string> keys = disk->readDiskRegistration();
            trace(3, "Found registration on disk [%s] using key(s) [%s].", path, joinKeys(keys).c_str());
            if (!listsKey(keys, hostKey)) {
                trace(3, "Host does not have registration on device [%s] with key [%s]", path, key.c_str());
            } else if (disk->unregisterDisk(key) != 0) {
                trace(1, "Failed to unregister key [%s] on device [%s]", key.c_str(), path);
                return kStatusReleaseFailed;
            }
            return 0;
        };

        std::vector<SReservationRecord> records = disk->readDiskReservation();
        bool found = false;
        for (const SReservationRecord &record : records) {
            trace(6, "Found reservation(%d) using key [%s] for disk [%s].", record.type, record.key.c_str(), path);
            if (record.key == hostKey) {
                found = true;
                break;
            }
        }
        if (!found) {
            trace(2, "Host does not have reservation on device [%s] with key [%s]", path, key.c_str());
            if (!records.empty()) {
                trace(2, "Some other host has reservation on the device [%s] with key [%s]", path,
                      records.front().key.c_str());
                // A registration kept here would let this host write under
                // the other's registrants-only reservation, and every later
                // release would stop at this point again: remove it now.
                if (flags & kFlagRegister) {
                    try {
                        unregisterHost();
                    } catch (const CPGRException &) {
                        trace(1, "Failed to unregister key [%s] on device [%s]", key.c_str(), path);
                    }
                }
                return kStatusReservedByOtherHost;
            }
        } else if (disk->releaseDisk(key, false, true, false) != 0) {
            trace(1, "FAILED to release the disk reservation on [%s].", path);
            return kStatusReleaseFailed;
        }

        if (flags & kFlagRegister) return unregisterHost();
        return 0;
    });
}

// The simulated Windows host behind platform/windows.h, and the control API
// tests use to build one.
//
//   auto host = rendo_sim::Host::create("HOSTA");
//   auto &emc = host->addDisk(rendo_sim::DiskSpec::make("EMC", "SYMMETRIX", "5874", "0A1B").naa("60000970..."));
//   host->addDisk(rendo_sim::DiskSpec::make("DGC", "RAID 5", "0326", "X1")).appearAfterRescans(3);
//   emc.disk()->failCommand(0x12);                 // INQUIRY answers CHECK CONDITION
//   rendo_sim::ScopedHost use(host);               // Windows calls of this thread act on host
//   ... run the code under test ...
//   EXPECT_EQ(emc.disk()->commands().size(), 4u);
//
// A Disk is the logical unit itself (inquiry data, reservations, the record
// of commands); a Lun is one path from one host to it. Two hosts attaching
// the same Disk see one reservation state, each path of each host as its own
// I_T nexus (the host's initiator, the path's target port). Disks of hosts in
// other processes share it through the simulated SAN's state directory (see
// shareArrayState below).
//
// Handles remember the host they were opened on; calls without a handle
// (CreateFileW, QueryDosDeviceW, CM_*, SetupDi*, Sleep...) act on the
// current host: the thread's ScopedHost, else the process-wide one, else the
// host described by the file named in RENDO_SIM_HOST, else the embedded
// default host (see examples/host-description.md). A host loaded from a
// description is kept for the life of the process: when RENDO_SIM_HOST comes
// to name another file, that file's host is loaded (once), and naming an
// earlier file again returns the earlier host as it was left.
#ifndef PLATFORM_SIMHOST_H
#define PLATFORM_SIMHOST_H

#include "platform/disk_backend.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rendo_sim {

// Where a Lun sits: adapter (port) number, bus (path id), target id, LUN.
struct ScsiAddress {
    uint8_t port = 0;
    uint8_t bus = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    // Relative identifier of the array's target port this path goes
    // through; 0 derives one from the fields above (Disk::defaultTargetPort),
    // so two paths of one host are two I_T nexuses.
    uint32_t targetPort = 0;
};

// One command as the disk received it.
struct CommandRecord {
    std::vector<uint8_t> cdb;
    DataDirection direction = DataDirection::None;
    size_t dataLength = 0;          // bytes the request offered
    std::vector<uint8_t> dataOut;   // parameter data, for data-out commands
    std::string initiator;          // initiator name of the sending host
    uint32_t targetPort = 0;        // target port it came through
    uint8_t status = 0;             // SCSI status answered (0xFF: transport failure)
    uint8_t opcode() const { return cdb.empty() ? 0xFF : cdb[0]; }
};

// What a disk says about itself. Vendor, product and revision are padded
// with blanks into their inquiry fields (8, 16, 4 bytes).
struct DiskSpec {
    std::string vendor;
    std::string product;
    std::string revision;
    std::string serial;                 // page 0x80 (when not given) and instance ID
    uint8_t peripheral = 0x00;          // qualifier and device type, byte 0 of every answer
    size_t inquiryLength = 96;          // generated standard inquiry length (grows to fit inquiryBytes)
    std::map<size_t, std::vector<uint8_t>> inquiryBytes;  // overrides at offsets of the standard data
    std::vector<uint8_t> rawInquiry;    // when set, the standard inquiry data as is
    std::map<uint8_t, std::vector<uint8_t>> pages;  // VPD pages, header included
    std::vector<uint8_t> rawPageCodes;  // pages answered byte for byte (others get the peripheral byte)
    bool listPage00 = true;             // generate page 0x00 from the pages present (unless given)
    // Canned data-in answers: a CDB starting with the first bytes gets the second.
    std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> responses;
    uint64_t blocks = 2097152;          // 1 GiB of 512-byte blocks
    uint32_t blockSize = 512;
    std::string iscsiUrl;               // non-empty: forward every command to this target
    // The logical unit's name on the simulated SAN, under which hosts in
    // other processes find its shared state; empty: derived (logicalUnitIdentity).
    std::string lu;

    static DiskSpec make(const std::string &vendor, const std::string &product, const std::string &revision,
                         const std::string &serial = "");
    // A VPD page from its payload: the header (peripheral byte, code, length) is added.
    DiskSpec &page(uint8_t code, const std::vector<uint8_t> &payload);
    DiskSpec &pageText(uint8_t code, const std::string &payload);
    // A VPD page exactly as given (for pages whose length byte lies).
    DiskSpec &rawPage(uint8_t code, const std::vector<uint8_t> &bytes);
    // Bytes at an offset of a VPD page (created when absent); the page grows
    // to fit and its length field follows.
    DiskSpec &pageAt(uint8_t code, size_t offset, const std::vector<uint8_t> &bytes);
    DiskSpec &inquiryAt(size_t offset, const std::vector<uint8_t> &bytes);
    DiskSpec &inquiryTextAt(size_t offset, const std::string &text);
    // Designators appended to page 0x83 (created when absent): NAA (binary,
    // from hex digits), T10 vendor ID (ASCII), EUI-64 (hex), vendor specific (ASCII).
    DiskSpec &naa(const std::string &hex);
    DiskSpec &t10(const std::string &text);
    DiskSpec &eui64(const std::string &hex);
    DiskSpec &vendorSpecificId(const std::string &text);
    DiskSpec &withoutPage00() { listPage00 = false; return *this; }
    DiskSpec &respond(const std::vector<uint8_t> &cdbPrefix, const std::vector<uint8_t> &data);
    DiskSpec &iscsi(const std::string &url) { iscsiUrl = url; return *this; }
};

std::vector<uint8_t> parseHex(const std::string &hex, bool *ok = nullptr);

// What a SAN does to a command besides answering it. The TimeOut kinds make
// the pass-through wait the request's TimeOutValue on the host clock and
// fail with ERROR_SEM_TIMEOUT; the TransportDrop kinds fail it at once with
// ERROR_IO_DEVICE. The ...AfterExecuting kinds lose only the answer: the
// logical unit has carried the command out.
enum class SanFault { Busy, TimeOut, TimeOutAfterExecuting, TransportDrop, TransportDropAfterExecuting };

// Whether the array presents a logical unit to its hosts, as the shared
// state records it: Unset until a host's scenario or a test changes it.
enum class Masking { Unset, Masked, UnmaskedByTest, UnmaskedByScenario };

class SanStateDir;

// SPC-3 persistent-reservation state, for assertions.
// One per registered I_T nexus: initiator and target port.
struct Registration {
    std::string initiator;
    uint64_t key = 0;
    uint32_t targetPort = 0;
};
struct ReservationState {
    uint32_t generation = 0;
    std::vector<Registration> registrations;  // in registration order
    bool reserved = false;
    std::string holder;                       // initiator of the reservation holder
    uint32_t holderTargetPort = 0;            // and the target port of its nexus
    uint64_t key = 0;
    uint8_t type = 0;
};

class Disk {
public:
    explicit Disk(DiskSpec desc);
    ~Disk();
    Disk(const Disk &) = delete;
    Disk &operator=(const Disk &) = delete;

    const DiskSpec &desc() const { return m_spec; }
    std::vector<uint8_t> standardInquiry() const;
    // The VPD page as the disk answers it, generated page 0x00 included; empty when absent.
    std::vector<uint8_t> vpdPage(uint8_t code) const;

    // One command from `initiator`; `backend` (the host's iSCSI session) when
    // the disk is iSCSI-backed, null for the built-in model.
    ScsiResult execute(const ScsiRequest &request, const std::string &initiator, DiskBackend *backend);
    // The same through one target port: registrations and the reservation
    // belong to the I_T nexus (initiator, target port). The form above uses
    // kDefaultTargetPort.
    ScsiResult execute(const ScsiRequest &request, const std::string &initiator, uint32_t targetPort,
                       DiskBackend *backend);
    static constexpr uint32_t kDefaultTargetPort = 1;
    static uint32_t defaultTargetPort(const ScsiAddress &address);
    // Target ports the logical unit is reached through (attached paths add
    // theirs); REGISTER with ALL_TG_PT registers the initiator on each.
    void addTargetPort(uint32_t port);
    std::vector<uint32_t> targetPorts() const;

    std::vector<CommandRecord> commands() const;
    std::vector<CommandRecord> commandsFrom(const std::string &initiator) const;
    size_t count(uint8_t opcode) const;
    void clearCommands();

    ReservationState reservation() const;
    void clearReservations();

    // Faults, each for `times` commands (-1: for ever). `page`: -1 any
    // INQUIRY, -2 the standard one, else that VPD page (INQUIRY only).
    Disk &failCommand(uint8_t opcode, uint8_t senseKey = 0x05, uint8_t asc = 0x24, uint8_t ascq = 0x00,
                      int times = -1, int page = -1);
    Disk &answerStatus(uint8_t opcode, uint8_t status, int times = -1, int page = -1);
    Disk &truncate(uint8_t opcode, size_t bytes, int times = -1, int page = -1);
    // `kind` for `times` commands (-1: for ever) once `after` commands have
    // passed; opcode -1: any command.
    Disk &sanFault(SanFault kind, unsigned after = 0, int times = 1, int opcode = -1);
    // A unit attention for every I_T nexus of `initiator` (empty: of every
    // initiator), reported once per nexus on its next command but INQUIRY,
    // REPORT LUNS and REQUEST SENSE (which returns it). The command is not
    // carried out. E.g. 0x2A/0x03 reservations preempted.
    Disk &unitAttention(uint8_t asc, uint8_t ascq, const std::string &initiator = "");
    // Power cycle: registrations and the reservation are lost (APTPL is not
    // offered) and every nexus gets POWER ON, RESET OCCURRED (0x29/0x00).
    Disk &powerOnReset();
    void clearFaults();   // scripted faults and pending unit attentions

    // The array's state of this logical unit (registrations, the reservation,
    // masking) kept under `identity` in a state directory shared by every
    // process that names the unit, instead of in this process. Tests opt in here.
    void shareState(std::shared_ptr<SanStateDir> directory, const std::string &identity);
    std::string sharedStatePath() const;   // "" while the state is in-process
    // The shared masking record (Unset while in-process); setting it is a
    // no-op then.
    Masking masking() const;
    void setMasking(Masking masking);

private:
    struct Impl;
    DiskSpec m_spec;
    std::unique_ptr<Impl> m_impl;
};

class Host;

// One DIF_REMOVE as the simulated host carried it out, with the class-install
// parameters set for that element beforehand (withParameters false: none).
struct RemovalRecord {
    std::string instanceId;
    bool withParameters = false;
    uint32_t scope = 0;
    uint32_t hwProfile = 0;
};

// A child process the host started: its id, the account it ran under ("" for
// the calling user) and its command line.
struct ProcessRecord {
    uint32_t pid = 0;
    std::string account;
    std::string commandLine;
};

// One path from a host to a disk. Modifiers return *this for chaining;
// a Lun lives as long as its host.
class Lun {
public:
    const std::shared_ptr<Disk> &disk() const { return m_disk; }
    ScsiAddress address() const { return m_address; }
    // "PhysicalDriveN" while present, else "".
    std::string dosName() const;
    // "\\.\PHYSICALDRIVEN" while present, else "".
    std::string devicePath() const;
    bool present() const;

    // Visibility: hidden until its adapter has been rescanned n times / until
    // the host clock reaches ms (and, when needsRescan, a rescan after that).
    // A device-tree (root) re-enumeration rescans every adapter, so it counts
    // as one bus rescan; with orTreeRescan it reveals the path at once.
    Lun &appearAfterRescans(unsigned n, bool orTreeRescan = false);
    // Hidden until the next device-tree re-enumeration; bus rescans never find it.
    Lun &appearOnTreeRescan();
    Lun &appearAt(uint64_t ms, bool needsRescan = true);
    Lun &mask();                 // gone at once, and stays away from rescans
    // Comes back on the next rescan (also after DIF_REMOVE uninstalled it).
    Lun &unmask();
    // On a disk whose state is shared (Disk::shareState), mask() and unmask()
    // also record the array's masking, which paths of other hosts follow on
    // their rescans when masked with no appear* scenario of their own; an
    // appear* scenario's appearance records "unmasked" (docs/simulated-san.md).
    // The SPDRP_LOCATION_INFORMATION text of its device node, instead of
    // "Bus Number b, Target Id t, LUN l"; empty: the node has no such property.
    Lun &locationInformation(const std::string &text);
    Lun &vanishAfterListing();   // listed once more by QueryDosDeviceW, then gone
    Lun &failOpen(uint32_t error = 2 /* ERROR_FILE_NOT_FOUND */, int times = -1);
    Lun &failIoctl(uint32_t code, uint32_t error = 1117 /* ERROR_IO_DEVICE */, int times = -1);
    // IOCTL_SCSI_GET_INQUIRY_DATA hands back at most this many inquiry bytes.
    Lun &shortInquiryData(size_t bytes);
    Lun &clearFaults();

    // The level at which multipath software claims this path (0: not
    // claimed). Two paths of one disk may differ; the claim library reads it.
    Lun &claimLevel(uint32_t level);
    uint32_t claimLevel() const;
    // The target port of this path's I_T nexus (see ScsiAddress::targetPort).
    uint32_t targetPort() const;

    // Internal state of the simulated host, guarded by its mutex; tests use
    // the members above.
    Lun(Host *host, std::shared_ptr<Disk> disk, ScsiAddress address, unsigned id);
    Host *m_host;
    std::shared_ptr<Disk> m_disk;
    ScsiAddress m_address;
    unsigned m_id;
    // Guarded by the host's mutex.
    bool m_present = false;
    bool m_masked = false;
    bool m_waitRescan = false;      // unmasked: back on the next rescan
    bool m_removed = false;         // uninstalled by DIF_REMOVE: away until presented again
    bool m_treeRescanReveals = false;
    bool m_hasLocation = false;
    std::string m_location;
    bool m_sanMasked = false;       // masked with no scenario of its own: follows the SAN's masking record
    bool m_scenario = false;        // an appear* scenario is pending: its appearance is recorded on the SAN
    bool m_unplugged = false;
    unsigned m_epoch = 0;           // bumped on each appearance; older handles are stale
    unsigned m_rescansNeeded = 0;   // kNeverByBus: only a device-tree rescan
    static constexpr unsigned kNeverByBus = ~0u;
    bool m_timed = false;
    uint64_t m_appearAtMs = 0;
    bool m_appearNeedsRescan = true;
    bool m_vanishAfterListing = false;
    int m_driveNumber = -1;
    uint32_t m_devInst = 0;
    uint32_t m_openError = 0;
    int m_openFailures = 0;
    std::map<uint32_t, std::pair<uint32_t, int>> m_ioctlFaults;  // code -> error, times
    size_t m_inquiryDataLimit = SIZE_MAX;
    uint32_t m_claimLevel = 1;
};

class Host {
public:
    // An empty computer name means KELM_COMPUTER_NAME, else RENDOSIM.
    static std::shared_ptr<Host> create(const std::string &computerName = "");
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    std::string computerName() const;
    void setComputerName(const std::string &name);
    // Network identity: the IPv4 addresses the host's own name resolves to,
    // in the order given (the first is the one its reservation key is made
    // from). None: the name resolves to nothing. Returns false, adding
    // nothing, for text that is not four dotted numbers 0..255.
    bool addIpAddress(const std::string &dotted);
    std::vector<std::string> ipAddresses() const;
    // Defaults to a name unique to this host object.
    InitiatorIdentity initiator() const;
    void setInitiator(const InitiatorIdentity &who);

    // Adapters are created on first use of their port number.
    void addAdapter(uint8_t port, uint32_t alignmentMask = 0, bool iscsiBus = false);
    // A new disk at `address`, or at the next free target of adapter 0.
    Lun &addDisk(const DiskSpec &desc);
    Lun &addDisk(const DiskSpec &desc, ScsiAddress address);
    Lun &attach(std::shared_ptr<Disk> disk, ScsiAddress address);
    std::vector<Lun *> luns();
    Lun *findLun(const std::string &pathOrDosName);   // "\\.\PHYSICALDRIVE2" or "PhysicalDrive2"
    // The claim level of the present path of that name; `fallback` when none is.
    uint32_t claimLevelOf(const std::string &pathOrDosName, uint32_t fallback) const;
    // Surprise removal: gone from the host, open handles fail with ERROR_DEV_NOT_EXIST.
    void unplug(Lun &lun);
    // Extra DOS device names (besides PhysicalDriveN and HarddiskNPartition1).
    void addDosName(const std::string &name, const std::string &target);

    // Plug and Play.
    unsigned rescans(uint8_t port) const;          // re-enumerations seen by this adapter
    unsigned rootRescans() const;
    void setRootRescanDelay(uint64_t ms);           // asynchronous root re-enumeration lands after this
    void setRemovalNeedsReboot(bool yes);           // DIF_REMOVE then reports DI_NEEDREBOOT
    // DIF_REMOVE uninstalls a disk: gone from the device tree and the DOS
    // names, and rescans leave it away until Lun::unmask() (or appear*) presents it again.
    std::vector<std::string> removedInstanceIds() const;
    std::vector<RemovalRecord> removals() const;
    // Device information sets made on this host and not yet destroyed.
    unsigned openDeviceInfoSets() const;
    // Make a Windows function fail `times` times (-1: for ever) with `code`:
    // its CONFIGRET for CM_* functions, else the last error. Names drop the
    // W / _Ex / _ExW endings and cover every variant: CM_Get_Device_ID_List_Size,
    // CM_Get_Device_ID_List, CM_Locate_DevNode, CM_Get_Device_ID,
    // CM_Get_DevNode_Registry_Property, CM_Reenumerate_DevNode,
    // SetupDiGetClassDevs, SetupDiGetDeviceInfoListDetail, SetupDiEnumDeviceInfo,
    // SetupDiGetDeviceRegistryProperty, SetupDiSetClassInstallParams,
    // SetupDiCallClassInstaller, SetupDiGetDeviceInstallParams, QueryDosDeviceW.
    // Any other name throws std::invalid_argument.
    void failCall(const std::string &function, uint32_t code, int times = 1);

    // Clock.
    void setVirtualClock(bool on);
    bool virtualClock() const;
    uint64_t nowMs() const;
    void advance(uint64_t ms);                      // virtual clock only
    std::vector<uint32_t> sleeps() const;           // every Sleep, in milliseconds
    void clearSleeps();

    struct Impl;
    Impl &impl() { return *m_impl; }
    std::mutex &mutex() const;

    // Accounts and processes of the command runner (platform/src/win_process.cpp).
    // An account's rights are names such as "SeBatchLogonRight"; adding an
    // existing account replaces it.
    void addAccount(const std::string &name, const std::string &password,
                    const std::vector<std::string> &rights = {});
    std::vector<std::string> accountRights(const std::string &name) const;  // empty for an unknown account
    std::vector<ProcessRecord> processes() const;   // every child started, in order
    std::vector<uint32_t> waits() const;            // finite waits on processes and events, in ms
    void clearWaits();
    struct ProcessState;
    ProcessState &processState();

private:
    Host();
    friend class Lun;
    std::unique_ptr<Impl> m_impl;
    mutable std::mutex m_networkMutex;
    std::vector<uint32_t> m_ipAddresses; // network byte order; guarded by m_networkMutex
    std::shared_ptr<ProcessState> m_processState;   // made on first use, under mutex()
};

// The host Windows calls act on (see the top of this file).
std::shared_ptr<Host> currentHost();
void setCurrentHost(std::shared_ptr<Host> host);   // null: back to RENDO_SIM_HOST / the default

class ScopedHost {
public:
    explicit ScopedHost(std::shared_ptr<Host> host);
    ~ScopedHost();
    ScopedHost(const ScopedHost &) = delete;
    ScopedHost &operator=(const ScopedHost &) = delete;

private:
    std::shared_ptr<Host> m_previous;
};

// Host description files (examples/host-description.md). On error: null
// and a message naming the line.
std::shared_ptr<Host> parseHostDescription(const std::string &text, std::string *error);
std::shared_ptr<Host> loadHostDescription(const std::string &path, std::string *error);
const char *defaultHostDescription();

// ------------------------------------------------------ the simulated SAN
//
// The array's state of a logical unit, shared by processes through one file
// per unit in a state directory (docs/simulated-san.md).

struct LuState {
    std::string identity;
    ReservationState reservation;   // key: the holder's, derived on parsing
    Masking masking = Masking::Unset;
};

// A state file's text and back. Parsing refuses anything malformed with a
// reason in *error (the caller then starts the unit afresh).
std::string formatLuState(const LuState &state);
bool parseLuState(const std::string &text, LuState &state, std::string *error);

class SanStateDir {
public:
    explicit SanStateDir(std::string directory);
    const std::string &directory() const { return m_directory; }
    std::string pathOf(const std::string &identity) const;
    // Reads the unit's state under the directory's lock, lets `apply` change
    // it and writes it back when it changed (temporary file, fsync, rename).
    // A corrupt or unreadable file is reported on stderr, once per process,
    // with its path and reason, and `apply` sees a fresh unit. False when the
    // new state could not be written (reported likewise).
    bool update(const std::string &identity, const std::function<void(LuState &)> &apply);
    LuState read(const std::string &identity) const;
    // Every unit with a state file, by file name; *problems gets one line per
    // file that could not be read and per update that did not finish.
    std::vector<LuState> list(std::vector<std::string> *problems) const;
    // Removes every state file (and leftover temporary file); the names removed.
    std::vector<std::string> reset(std::string *error);

private:
    std::string m_directory;
    // Units whose state the directory could not take (no lock, say): kept in
    // this process, so that a command the disk accepted is not forgotten.
    mutable std::mutex m_localMutex;
    std::map<std::string, LuState> m_local;
};

// The directory named by RENDO_SIM_STATE; when unset, SimState under
// KELM_INSTALL_ROOT, else a per-user directory under $TMPDIR (or /tmp).
// Empty when RENDO_SIM_STATE is set to "": array state stays in-process.
std::string sanStateDirectory();
// A logical unit's name on the SAN: DiskSpec::lu, else its first NAA, EUI-64
// or T10 designator of page 0x83, else vendor, product and serial; empty
// (in-process state) for iSCSI-backed disks and disks with none of these.
std::string logicalUnitIdentity(const DiskSpec &desc);
// Shares the array state of every disk of `host` that has an identity, and
// applies the masking the SAN records to its paths. Hosts loaded from
// descriptions for the current host get this with sanStateDirectory().
void shareArrayState(Host &host, const std::string &directory);

// Directory of the lock files behind named semaphores:
// RENDO_SIM_LOCK_DIR, else $TMPDIR (or /tmp) plus "/rendo-sim-locks-<uid>".
std::string semaphoreLockDirectory();

} // namespace rendo_sim

#endif // PLATFORM_SIMHOST_H

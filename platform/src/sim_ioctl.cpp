// Device handles of the simulated host's disks: CreateFileW and
// DeviceIoControl with the SCSI pass-through, address, geometry, inquiry-data
// and storage-property IOCTLs. A command goes to the logical unit (Disk) as
// the host's initiator through the path's target port, or to its iSCSI session.
#include "sim_host_impl.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

namespace rendo_sim {

DiskBackend *Host::Impl::backendFor(const Disk &disk, std::string *error) {
    if (disk.desc().iscsiUrl.empty()) return nullptr;
    auto it = backends.find(&disk);
    if (it != backends.end() && it->second) return it->second.get();
    auto backend = openIscsiBackend(disk.desc().iscsiUrl, who, error);
    if (backend) backends[&disk] = backend;
    return backend.get();
}

} // namespace rendo_sim

using namespace rendo_sim;
using namespace rendo_sim::detail;

namespace {

struct DeviceHandle : HandleObject {
    std::shared_ptr<Host> host;
    Lun *lun = nullptr;
    unsigned epoch = 0;
};

} // namespace

extern "C" {

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD, SECURITY_ATTRIBUTES *,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    if (lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::wstring name(lpFileName);
    if (isPipeName(name)) return openPipeClient(name, dwDesiredAccess, dwFlagsAndAttributes);
    if (name.rfind(L"\\\\.\\", 0) != 0 && name.rfind(L"\\\\?\\", 0) != 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);  // only device paths exist on the simulated host
        return INVALID_HANDLE_VALUE;
    }
    if (dwCreationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    std::string dos = upper(narrow(name.substr(4)));
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    im.settle();
    Lun *l = im.drive(dos);
    if (l != nullptr) {
        if (l->m_openFailures != 0) {
            if (l->m_openFailures > 0) --l->m_openFailures;
            SetLastError(l->m_openError);
            return INVALID_HANDLE_VALUE;
        }
        auto h = std::make_shared<DeviceHandle>();
        h->host = host;
        h->lun = l;
        h->epoch = l->m_epoch;
        SetLastError(ERROR_SUCCESS);
        return addHandle(h);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD a, DWORD s, SECURITY_ATTRIBUTES *sa, DWORD d, DWORD f, HANDLE t) {
    if (lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::wstring w = widen(lpFileName);
    return CreateFileW(w.c_str(), a, s, sa, d, f, t);
}

} // extern "C"

namespace {

struct Resolved {
    std::shared_ptr<Disk> disk;
    DiskBackend *backend = nullptr;
    std::string backendError;
    std::string initiator;
    uint32_t targetPort = 0;
    std::shared_ptr<Host> host;
    ScsiAddress address;
    uint32_t alignmentMask = 0;
    bool iscsiBus = false;
    size_t inquiryLimit = SIZE_MAX;
};

ScsiResult runCommand(Resolved &r, const uint8_t *cdb, size_t cdbLength, DataDirection dir, uint8_t *data,
                      size_t length, uint32_t timeout) {
    ScsiRequest req;
    req.cdb = cdb;
    req.cdbLength = cdbLength;
    req.direction = dir;
    req.data = data;
    req.dataLength = length;
    req.timeoutSeconds = timeout;
    if (!r.disk->desc().iscsiUrl.empty() && r.backend == nullptr) {
        ScsiResult res;
        res.transportError = true;
        res.transportMessage = r.backendError;
        return res;
    }
    return r.disk->execute(req, r.initiator, r.targetPort, r.backend);
}

// A command that got no answer holds its caller for the request's time-out,
// on the host's clock.
void waitTimeOut(Host &host, uint32_t seconds) {
    uint64_t ms = uint64_t{seconds} * 1000;
    {
        Host::Impl &im = HostAccess::impl(host);
        std::lock_guard<std::mutex> lock(host.mutex());
        if (im.virtualClock) {
            im.virtualNow += ms;
            im.settle();
            return;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

BOOL passThrough(Resolved &r, bool direct, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned) {
    size_t header = direct ? sizeof(SCSI_PASS_THROUGH_DIRECT) : sizeof(SCSI_PASS_THROUGH);
    if (in == nullptr || inSize < header) return fail(ERROR_INVALID_PARAMETER);
    // Buffered method: the request is read in whole before anything is written back.
    std::vector<uint8_t> sys(std::max<size_t>(inSize, outSize), 0);
    std::memcpy(sys.data(), in, inSize);
    SCSI_PASS_THROUGH spt;
    std::memcpy(&spt, sys.data(), sizeof spt);  // both layouts share every field but the data pointer
    void *directBuffer = nullptr;
    if (direct) {
        SCSI_PASS_THROUGH_DIRECT sptd;
        std::memcpy(&sptd, sys.data(), sizeof sptd);
        directBuffer = sptd.DataBuffer;
    }
    if (spt.Length != header || spt.CdbLength == 0 || spt.CdbLength > 16 || spt.DataIn > SCSI_IOCTL_DATA_UNSPECIFIED)
        return fail(ERROR_INVALID_PARAMETER);
    size_t length = spt.DataTransferLength;
    if (spt.SenseInfoLength > 0 && (spt.SenseInfoOffset < header || size_t(spt.SenseInfoOffset) + spt.SenseInfoLength > std::max(inSize, outSize)))
        return fail(ERROR_INVALID_PARAMETER);
    if (spt.SenseInfoLength > 0 && size_t(spt.SenseInfoOffset) + spt.SenseInfoLength > outSize)
        return fail(ERROR_INVALID_PARAMETER);
    uint8_t *data = nullptr;
    if (length > 0) {
        if (direct) {
            if (directBuffer == nullptr) return fail(ERROR_INVALID_PARAMETER);
            if ((reinterpret_cast<uintptr_t>(directBuffer) & r.alignmentMask) != 0) return fail(ERROR_INVALID_PARAMETER);
            data = static_cast<uint8_t *>(directBuffer);
        } else {
            size_t offset = spt.DataBufferOffset;
            size_t limit = spt.DataIn == SCSI_IOCTL_DATA_IN ? outSize : inSize;
            if (offset < header || offset > limit || length > limit - offset) return fail(ERROR_INVALID_PARAMETER);
            data = sys.data() + offset;
        }
    }
    DataDirection dir = length == 0 ? DataDirection::None
                        : spt.DataIn == SCSI_IOCTL_DATA_IN ? DataDirection::In
                        : spt.DataIn == SCSI_IOCTL_DATA_OUT ? DataDirection::Out
                                                            : DataDirection::In;
    ScsiResult res = runCommand(r, spt.Cdb, spt.CdbLength, dir, data, length, spt.TimeOutValue);
    if (res.timedOut) {
        if (r.host) waitTimeOut(*r.host, spt.TimeOutValue);
        return fail(ERROR_SEM_TIMEOUT);
    }
    if (res.transportError) return fail(ERROR_IO_DEVICE);
    size_t moved = std::min(res.dataTransferred, length);
    spt.ScsiStatus = res.status;
    spt.DataTransferLength = static_cast<ULONG>(dir == DataDirection::In ? moved : (dir == DataDirection::Out ? moved : 0));
    size_t senseBytes = 0;
    if (res.status != 0 && spt.SenseInfoLength > 0 && !res.sense.empty()) {
        senseBytes = std::min<size_t>(res.sense.size(), spt.SenseInfoLength);
        std::memcpy(sys.data() + spt.SenseInfoOffset, res.sense.data(), senseBytes);
    }
    spt.SenseInfoLength = static_cast<UCHAR>(senseBytes);
    std::memcpy(sys.data(), &spt, direct ? offsetof(SCSI_PASS_THROUGH, DataBufferOffset) : sizeof spt);
    std::memcpy(sys.data() + offsetof(SCSI_PASS_THROUGH, SenseInfoOffset), &spt.SenseInfoOffset,
                sizeof(SCSI_PASS_THROUGH) - offsetof(SCSI_PASS_THROUGH, SenseInfoOffset));
    size_t count;
    if (!direct && dir == DataDirection::In && moved > 0) count = spt.DataBufferOffset + moved;
    else if (senseBytes > 0) count = spt.SenseInfoOffset + senseBytes;
    else count = header;
    count = std::min<size_t>(count, outSize);
    if (out != nullptr && count > 0) std::memcpy(out, sys.data(), count);
    if (returned) *returned = static_cast<DWORD>(count);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL storageProperty(Resolved &r, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned) {
    const size_t needed = offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters);
    if (in == nullptr || inSize < needed || (outSize > 0 && out == nullptr)) return fail(ERROR_INVALID_PARAMETER);
    // Read as plain numbers: a caller's out-of-range value is no enumerator.
    uint32_t property = 0, queryType = 0;
    std::memcpy(&property, in, 4);
    std::memcpy(&queryType, static_cast<const uint8_t *>(in) + 4, 4);
    if (property != StorageAdapterProperty && property != StorageDeviceProperty) return fail(ERROR_INVALID_FUNCTION);
    if (queryType == PropertyExistsQuery) {
        if (returned) *returned = 0;
        return TRUE;
    }
    if (queryType != PropertyStandardQuery) return fail(ERROR_INVALID_PARAMETER);
    if (outSize < sizeof(STORAGE_DESCRIPTOR_HEADER)) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::vector<uint8_t> d;
    if (property == StorageAdapterProperty) {
        STORAGE_ADAPTER_DESCRIPTOR a{};
        a.Version = a.Size = sizeof a;
        a.MaximumTransferLength = 0x20000;
        a.MaximumPhysicalPages = 33;
        a.AlignmentMask = r.alignmentMask;
        a.CommandQueueing = TRUE;
        a.BusType = r.iscsiBus ? BusTypeiScsi : BusTypeFibre;
        a.BusMajorVersion = 2;
        d.resize(sizeof a);
        std::memcpy(d.data(), &a, sizeof a);
    } else {
        const DiskSpec &s = r.disk->desc();
        STORAGE_DEVICE_DESCRIPTOR dd{};
        d.resize(offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties));
        auto addText = [&](const std::string &t) -> ULONG {
            ULONG at = static_cast<ULONG>(d.size());
            d.insert(d.end(), t.begin(), t.end());
            d.push_back(0);
            return at;
        };
        dd.DeviceType = s.peripheral & 0x1F;
        dd.CommandQueueing = TRUE;
        dd.BusType = r.iscsiBus ? BusTypeiScsi : BusTypeFibre;
        dd.VendorIdOffset = addText(s.vendor);
        dd.ProductIdOffset = addText(s.product);
        dd.ProductRevisionOffset = addText(s.revision);
        dd.SerialNumberOffset = s.serial.empty() ? 0 : addText(s.serial);
        dd.Version = sizeof dd;
        dd.Size = static_cast<ULONG>(d.size());
        std::memcpy(d.data(), &dd, offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties));
    }
    size_t n = std::min<size_t>(d.size(), outSize);
    std::memcpy(out, d.data(), n);
    if (returned) *returned = static_cast<DWORD>(n);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

} // namespace

extern "C" {

BOOL DeviceIoControl(HANDLE hDevice, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD returned, LPOVERLAPPED overlapped) {
    if (returned) *returned = 0;
    auto h = findHandleAs<DeviceHandle>(hDevice);
    if (!h) return fail(ERROR_INVALID_HANDLE);
    if (overlapped != nullptr) return fail(ERROR_INVALID_PARAMETER);
    Resolved r;
    {
        Host::Impl &im = HostAccess::impl(*h->host);
        std::lock_guard<std::mutex> lock(h->host->mutex());
        im.settle();
        Lun &l = *h->lun;
        if (!l.m_present || l.m_epoch != h->epoch) return fail(ERROR_DEV_NOT_EXIST);
        auto f = l.m_ioctlFaults.find(code);
        if (f != l.m_ioctlFaults.end() && f->second.second != 0) {
            if (f->second.second > 0) --f->second.second;
            return fail(f->second.first);
        }
        r.disk = l.m_disk;
        r.initiator = im.who.initiatorName;
        r.targetPort = Disk::defaultTargetPort(l.m_address);
        r.host = h->host;
        r.address = l.m_address;
        Adapter &a = im.adapter(l.m_address.port);
        r.alignmentMask = a.alignmentMask;
        r.iscsiBus = a.iscsi;
        r.inquiryLimit = l.m_inquiryDataLimit;
        r.backend = im.backendFor(*l.m_disk, &r.backendError);
    }
    switch (code) {
    case IOCTL_SCSI_PASS_THROUGH:
        return passThrough(r, false, in, inSize, out, outSize, returned);
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
        return passThrough(r, true, in, inSize, out, outSize, returned);
    case IOCTL_SCSI_GET_ADDRESS: {
        if (out == nullptr || outSize < sizeof(SCSI_ADDRESS)) return fail(ERROR_INSUFFICIENT_BUFFER);
        SCSI_ADDRESS a{sizeof(SCSI_ADDRESS), r.address.port, r.address.bus, r.address.target, r.address.lun};
        std::memcpy(out, &a, sizeof a);
        if (returned) *returned = sizeof a;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    case IOCTL_DISK_GET_DRIVE_GEOMETRY: {
        if (out == nullptr || outSize < sizeof(DISK_GEOMETRY)) return fail(ERROR_INSUFFICIENT_BUFFER);
        uint64_t blocks = r.disk->desc().blocks;
        uint32_t blockSize = r.disk->desc().blockSize;
        if (r.backend != nullptr && !r.backend->capacity(blocks, blockSize)) return fail(ERROR_NOT_READY);
        if (!r.disk->desc().iscsiUrl.empty() && r.backend == nullptr) return fail(ERROR_NOT_READY);
        DISK_GEOMETRY g{};
        g.MediaType = FixedMedia;
        g.TracksPerCylinder = 255;
        g.SectorsPerTrack = 63;
        g.BytesPerSector = blockSize;
        g.Cylinders.QuadPart = static_cast<LONGLONG>(blocks / (255u * 63u));
        std::memcpy(out, &g, sizeof g);
        if (returned) *returned = sizeof g;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    case IOCTL_SCSI_GET_INQUIRY_DATA: {
        // What the port driver learnt at bus scan: no command goes to the
        // disk (an iSCSI disk is asked, unrecorded, since nothing else knows).
        std::vector<uint8_t> inq;
        if (r.backend != nullptr) {
            uint8_t cdb[6] = {0x12, 0, 0, 0, 36, 0};
            uint8_t buf[36] = {};
            ScsiRequest req;
            req.cdb = cdb;
            req.cdbLength = 6;
            req.direction = DataDirection::In;
            req.data = buf;
            req.dataLength = sizeof buf;
            ScsiResult res = r.backend->execute(req);
            if (res.transportError || res.status != 0) return fail(ERROR_IO_DEVICE);
            inq.assign(buf, buf + std::min<size_t>(res.dataTransferred, sizeof buf));
        } else if (r.disk->desc().iscsiUrl.empty()) {
            inq = r.disk->standardInquiry();
            if (inq.size() > 36) inq.resize(36);
        } else {
            return fail(ERROR_IO_DEVICE);
        }
        if (inq.size() > r.inquiryLimit) inq.resize(r.inquiryLimit);
        size_t total = 24 + inq.size();
        if (out == nullptr || outSize < total) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::vector<uint8_t> d(total, 0);
        SCSI_ADAPTER_BUS_INFO bus{};
        bus.NumberOfBuses = 1;
        bus.BusData[0].NumberOfLogicalUnits = 1;
        bus.BusData[0].InitiatorBusId = 7;
        bus.BusData[0].InquiryDataOffset = sizeof(SCSI_ADAPTER_BUS_INFO);
        std::memcpy(d.data(), &bus, sizeof bus);
        SCSI_INQUIRY_DATA id{};
        id.PathId = r.address.bus;
        id.TargetId = r.address.target;
        id.Lun = r.address.lun;
        id.DeviceClaimed = TRUE;
        id.InquiryDataLength = static_cast<ULONG>(inq.size());
        id.NextInquiryDataOffset = 0;
        std::memcpy(d.data() + sizeof bus, &id, offsetof(SCSI_INQUIRY_DATA, InquiryData));
        if (!inq.empty()) std::memcpy(d.data() + 24, inq.data(), inq.size());
        std::memcpy(out, d.data(), total);
        if (returned) *returned = static_cast<DWORD>(total);
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    case IOCTL_STORAGE_QUERY_PROPERTY:
        return storageProperty(r, in, inSize, out, outSize, returned);
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
}

} // extern "C"

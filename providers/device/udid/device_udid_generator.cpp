#include "udid/device_udid_generator.h"

#include "scsitool/scsitool.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

const char *const MSG_UDID_ERROR_INVALID_SCSI_PAGE_SIZE = "MSG_UDID_ERROR_INVALID_SCSI_PAGE_SIZE";
const char *const MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA = "MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA";
const char *const MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA = "MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA";
const char *const MSG_UDID_ERROR_INVALID_SCSI_ENCLOSURE_DATA = "MSG_UDID_ERROR_INVALID_SCSI_ENCLOSURE_DATA";

namespace {

// Byte positions the rules read, header included (byte 3 of a VPD page is
// the low byte of its length, bytes 2-3 the whole length).
constexpr uint32_t kVpdLengthOffset = 2;
constexpr uint32_t kVpdShortLengthOffset = 3;
constexpr uint32_t kVpdHeaderLength = 4;
constexpr uint32_t kInquiryVendorOffset = 8;
constexpr uint32_t kInquiryProductOffset = 16;
constexpr uint32_t kInquiryVendorSpecific = 36;  // first byte after the revision
constexpr uint32_t kHitachiTextEnd = 48;         // one past the last byte of the LDEV

bool contains(const std::string &s, const char *t) { return s.find(t) != std::string::npos; }
bool startsWith(const std::string &s, const char *t) { return s.compare(0, std::strlen(t), t) == 0; }

// "%02X%02X-..." style: count bytes from offset, a dash after every group
// of groupBytes.
std::string groupedHex(const CScsiPageView &page, uint32_t offset, uint32_t count, uint32_t groupBytes) {
    std::string out;
    for (uint32_t i = 0; i < count; i += groupBytes) {
        if (i > 0) out += '-';
        out += page.hex(offset + i, groupBytes, true);
    }
    return out;
}

// Whether `page` is stored with at least `bytes` bytes.
bool holds(const CScsiPageView &page, uint32_t bytes) { return page.present() && page.has(0, bytes); }

// Two views of a stored page. The SCSI tool stores the request's whole
// returned count, so a page runs on in zeros from the request buffer and
// its stored length always exceeds what the device sent.
//
// inquiryOf()/vpdOf(): the page clipped to its own length field (byte 4 + 5
// for standard inquiry data, bytes 2-3 + 4 for a VPD page). Checks on bytes
// that tell the LUN apart use it: read from the padding, those bytes would be
// zero for every LUN that answers that short, and two LUNs would share one
// UDID (every short Symmetrix answer the enclosure 000000000000 and device
// numbers that repeat on every array; every short Hitachi answer LDEV 0).
//
// storedInquiry()/storedVpd(): the page as stored. Checks on an enclosure
// field whose LUN field is a 16-byte world-wide name (or the disk's own
// name) keep to the stored length, as the classic rules do: a short
// enclosure cannot make two LUNs' UDIDs equal.
// docs/identifiers.md lists which check uses which view.
CScsiPageView answered(const CScsiPageView &stored, bool standard) {
    uint32_t own = stored.length();
    if (standard && stored.has(0, 5)) own = uint32_t(stored.byte(4)) + 5;
    if (!standard && stored.has(0, kVpdHeaderLength)) own = uint32_t(stored.be16(kVpdLengthOffset)) + kVpdHeaderLength;
    return CScsiPageView(stored.data(), std::min(own, stored.length()));
}

CScsiPageView inquiryOf(const CScsiDeviceData *device) { return answered(device->stdInquiry(), true); }
CScsiPageView vpdOf(const CScsiDeviceData *device, uint32_t code) { return answered(device->modePage(code), false); }
CScsiPageView storedInquiry(const CScsiDeviceData *device) { return device->stdInquiry(); }
CScsiPageView storedVpd(const CScsiDeviceData *device, uint32_t code) { return device->modePage(code); }

// strtol over bytes [from, to] of s (inclusive), as the serial rules read them.
long fieldValue(const std::string &s, size_t from, size_t to, int base) {
    std::string field = from < s.size() ? s.substr(from, to - from + 1) : std::string();
    return std::strtol(field.c_str(), nullptr, base);
}

} // namespace

// ---- CUdidGeneratorException ----

CUdidGeneratorException::CUdidGeneratorException(const std::string &messageId, const std::string &vendor,
                                                 const std::string &product)
    : m_messageId(messageId), m_vendor(vendor), m_product(product) {}

std::string CUdidGeneratorException::getMessageId() const { return m_messageId + ":" + m_vendor + ":" + m_product; }

std::string UdidUpperCase(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string UdidTrimRight(const std::string &text) {
    size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// ---- CUdidGenerator ----

CUdidGenerator::CUdidGenerator(const std::string &vendor, const std::string &product)
    : m_vendor(vendor), m_product(product) {}

CUdidGenerator::~CUdidGenerator() = default;

std::string CUdidGenerator::getGeneratorName() { return m_vendor + ":" + m_product; }

bool CUdidGenerator::trimmedIds(CScsiDeviceData *device) {
    if (device == nullptr) return false;
    device->m_vendorId = UdidTrimRight(device->m_vendorId);
    device->m_productId = UdidTrimRight(device->m_productId);
    return true;
}

bool CUdidGenerator::claimDevice(CScsiDeviceData *device) {
    return trimmedIds(device) && device->m_vendorId == m_vendor && device->m_productId == m_product;
}

std::string CUdidGenerator::getUniqueDeviceIDPrefix(CScsiDeviceData *) {
    if (m_explain != nullptr) {
        literal("vendor", UdidTrimRight(m_vendor));
        literal("product", UdidTrimRight(m_product));
    }
    return UdidUpperCase("UDID##" + UdidTrimRight(m_vendor) + "##" + UdidTrimRight(m_product) + "##");
}

void CUdidGenerator::fail(const char *id) const { throw CUdidGeneratorException(id, m_vendor, m_product); }

void CUdidGenerator::failUnnamed(const char *id) { throw CUdidGeneratorException(id, "", ""); }

std::string CUdidGenerator::note(const char *field, const CScsiPageView &page, uint32_t code, uint32_t offset,
                                 uint32_t length, UdidConversion how, const std::string &text) const {
    if (m_explain == nullptr) return text;
    UdidFieldPart part;
    part.field = field;
    part.source = code == SCSI_STD_INQUIRY_KEY ? UdidSource::Inquiry : UdidSource::VpdPage;
    part.page = code;
    part.offset = offset;
    part.hex = page.hex(offset, length);
    part.length = uint32_t(part.hex.size() / 2);
    part.conversion = how;
    part.text = text;
    m_explain->part(part);
    return text;
}

std::string CUdidGenerator::literal(const char *field, const std::string &text) const {
    if (m_explain != nullptr) m_explain->literal(field, text);
    return text;
}

bool CUdidGenerator::needs(const char *what, const CScsiPageView &page, uint32_t bytes) const {
    if (holds(page, bytes)) return true;
    if (m_explain != nullptr) {
        char detail[128];
        if (page.present())
            std::snprintf(detail, sizeof detail, "%s: %u bytes, the rule reads %u", what, page.length(), bytes);
        else
            std::snprintf(detail, sizeof detail, "%s: not stored", what);
        m_explain->detail(detail);
    }
    return false;
}

std::string CUdidGenerator::idPart(const char *field, const CScsiDeviceData *device, uint32_t offset,
                                   const std::string &text, UdidConversion how) const {
    if (m_explain == nullptr) return text;
    std::string shown = text;
    if (how == UdidConversion::TextBlanksAsUnderscores)
        for (char &c : shown)
            if (c == ' ') c = '_';
    CScsiPageView inq = device->stdInquiry();
    if (inq.has(offset, text.size()) && std::memcmp(inq.data() + offset, text.data(), text.size()) == 0)
        note(field, inq, 0, offset, uint32_t(text.size()), how, shown);
    else
        literal(field, shown);  // a record built without its inquiry data
    return text;
}

void CUdidGenerator::explainDetail(const std::string &detail) const {
    if (m_explain != nullptr) m_explain->detail(detail);
}

// ---- HP MSA ----

bool CHpMsaUdidGenerator::claimDevice(CScsiDeviceData *device) {
    return trimmedIds(device) && contains(device->m_productId, "MSA") &&
           (contains(device->m_vendorId, "COMPAQ") || contains(device->m_vendorId, "HP"));
}

std::string CHpMsaUdidGenerator::getUniqueDeviceIDSuffix(CScsiDeviceData *device) {
    if (device == nullptr) fail(MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA);
    // The enclosure is bytes 96-109; the LUN text is the disk's own name.
    CScsiPageView inq = storedInquiry(device);
    if (!needs("std inquiry", inq, 110)) fail(MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA);
    std::string enclosure = inq.text(96, 14);
    note("enclosure", inq, 0, 96, uint32_t(enclosure.size()), UdidConversion::Text, enclosure);
    CScsiPageView p83 = vpdOf(device, SCSI_VPD_DEVICE_ID);
    if (!needs("VPD 0x83 (by its length field)", p83, 68)) fail(MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA);
    std::string lun = p83.text(36, 32);
    note("LUN", p83, SCSI_VPD_DEVICE_ID, 36, uint32_t(lun.size()), UdidConversion::Text, lun);
    return enclosure + "##" + lun;
}

// ---- HP EVA ----

bool CHpEvaUdidGenerator::claimDevice(CScsiDeviceData *device) {
    return trimmedIds(device) && startsWith(device->m_productId, "HSV") &&
           (device->m_vendorId == "COMPAQ" || device->m_vendorId == "HP");
}

std::string CHpEvaUdidGenerator::getUniqueDeviceIDSuffix(CScsiDeviceData *device) {
    if (device == nullptr) failUnnamed(MSG_UDID_ERROR_INVALID_SCSI_ENCLOSURE_DATA);
    CScsiPageView inq = storedInquiry(device);
    if (!needs("std inquiry", inq, 138)) failUnnamed(MSG_UDID_ERROR_INVALID_SCSI_ENCLOSURE_DATA);
    std::string enclosure = note("enclosure", inq, 0, 130, 8, UdidConversion::Hex, groupedHex(inq, 130, 8, 2));
    CScsiPageView p83 = vpdOf(device, SCSI_VPD_DEVICE_ID);
    if (!needs("VPD 0x83 (by its length field)", p83, 24)) fail(MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA);
    if (p83.be16(kVpdLengthOffset) < 20) {
        explainDetail("VPD 0x83 page length below 20");
        fail(MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA);
    }
    return enclosure + "##" +
           note("LUN", p83, SCSI_VPD_DEVICE_ID, 8, 16, UdidConversion::Hex, groupedHex(p83, 8, 16, 2));
}

// ---- IBM TotalStorage and IBM DS ----

namespace {

bool claimIbm(CScsiDeviceData *device, bool supported, bool alternate) {
    return startsWith(device->m_vendorId, "IBM") && (supported || alternate);
}

// Page 0x80 checks shared by both IBM rules; the serial text from byte 4.
std::string ibmSerial(const CScsiDeviceData *device, const CUdidGenerator &generator) {
    CScsiPageView p80 = vpdOf(device, SCSI_VPD_UNIT_SERIAL);
    if (!p80.present())
        throw CUdidGeneratorException(MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA, generator.vendor(), generator.product());
    // The length byte itself must be stored before it can be compared.
    if (!p80.has(0, kVpdHeaderLength) || p80.length() < p80.byte(kVpdShortLengthOffset))
        throw CUdidGeneratorException(MSG_UDID_ERROR_INVALID_SCSI_PAGE_SIZE, "", "");
    return p80.text(kVpdHeaderLength, 7);
}

} // namespace

bool CIbmUdidGenerator::isSupportedProduct(const std::string &product) {
    return contains(product, "2105") || contains(product, "2107") || contains(product, "1750") ||
           contains(product, "2145");
}

bool CIbmUdidGenerator::isSupportedAlternateProduct(const std::string &product) {
    return contains(product, "3552") || contains(product, "3542");
}

bool CIbmUdidGenerator::claimDevice(CScsiDeviceData *device) {
    if (!trimmedIds(device)) return false;
    return claimIbm(device, isSupportedProduct(device->m_productId),
                    !isSupportedProduct(device->m_productId) && isSupportedAlternateProduct(device->m_productId));
}

std::string CIbmUdidGenerator::getUniqueDeviceIDSuffix(CScsiDeviceData *device) {
    if (device == nullptr) fail(MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA);
    const std::string &product = device->m_productId;
    std::string enclosure;
    if (contains(product, "2107")) {
        // A missing inquiry counts as a short one: a UDID without its
        // enclosure field would parse with its fields shifted.
        CScsiPageView inq = inquiryOf(device);
        if (!needs("std inquiry (by its length field)", inq, 43)) failUnnamed(MSG_UDID_ERROR_INVALID_SCSI_PAGE_SIZE);
        std::string serial = inq.text(kInquiryVendorSpecific, 7);
        enclosure = literal("enclosure", "IBM.2107-");
        enclosure +=
            note("enclosure", inq, 0, kInquiryVendorSpecific, uint32_t(serial.size()), UdidConversion::Text, serial);
    } else if (isSupportedProduct(product)) {
        std::string serial = ibmSerial(device, *this);
        // Parts are noted in UDID order, so one statement each.
        enclosure = literal("enclosure", "IBM.");
        enclosure += idPart("enclosure", device, kInquiryProductOffset, product.substr(0, 4));
        enclosure += literal("enclosure", "-");
        enclosure += note("enclosure", vpdOf(device, SCSI_VPD_UNIT_SERIAL), SCSI_VPD_UNIT_SERIAL, kVpdHeaderLength,
                          uint32_t(serial.size()), UdidConversion::Text, serial);
    } else if (isSupportedAlternateProduct(product)) {
        CScsiPageView pC8 = vpdOf(device, SCSI_VPD_VENDOR_C8);
        if (!needs("VPD 0xC8 (by its length field)", pC8, 106)) fail(MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA);
        enclosure = literal("enclosure", "IBM.");
        enclosure += idPart("enclosure", device, kInquiryProductOffset, product.substr(0, 4));
        enclosure += literal("enclosure", "-");
        enclosure += note("enclosure", pC8, SCSI_VPD_VENDOR_C8, 90, 16, UdidConversion::Hex, pC8.hex(90, 16));
    } else {
        failUnnamed(MSG_UDID_ERROR_INVALID_SCSI_ENCLOSURE_DATA);
    }
    CScsiPageView p83 = vpdOf(device, SCSI_VPD_DEVICE_ID);
    if (!needs("VPD 0x83 (by its length field)", p83, 24)) fail(MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA);
    return enclosure + "##" + note("LUN", p83, SCSI_VPD_DEVICE_ID, 22, 2, UdidConversion::Hex, p83.hex(22, 2));
}

bool CIbmDsUdidGenerator::isSupportedProduct(const std::string &product) {
    return contains(product, "1722") || contains(product, "1724") || contains(product, "1742") ||
           contains(product, "1815") || contains(product, "1814");
}

bool CIbmDsUdidGenerator::isSupportedAlternateProduct(const std::string &product) {
    return isSupportedProduct(product);
}

bool CIbmDsUdidGenerator::claimDevice(CScsiDeviceData *device) {
    if (!trimmedIds(device)) return false;
    return claimIbm(device, isSupportedProduct(device->m_productId),
                    !isSupportedProduct(device->m_productId) && isSupportedAlternateProduct(device->m_productId));
}

std::string CIbmDsUdidGenerator::getUniqueDeviceIDSuffix(CScsiDeviceData *device) {
    if (device == nullptr) fail(MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA);
    const std::string &product = device->m_productId;
    std::string enclosure;
    if (contains(product, "1724")) {
        // As for the 2107: no UDID with a missing enclosure field.
        CScsiPageView inq = storedInquiry(device);
        if (!needs("std inquiry", inq, 43)) failUnnamed(MSG_UDID_ERROR_INVALID_SCSI_PAGE_SIZE);
        std::string serial = inq.text(kInquiryVendorSpecific, 511);
        enclosure = literal("enclosure", "IBM.1724-");
        enclosure +=
            note("enclosure", inq, 0, kInquiryVendorSpecific, uint32_t(serial.size()), UdidConversion::Text, serial);
    } else {
        ibmSerial(device, *this);  // only its checks: the enclosure comes from page 0xD0
        enclosure = literal("enclosure", "IBM.");
        enclosure += idPart("enclosure", device, kInquiryProductOffset, product.substr(0, 4));
        enclosure += literal("enclosure", "-");
        CScsiPageView pD0 = storedVpd(device, SCSI_VPD_VENDOR_D0);
        if (holds(pD0, 24))
            enclosure += note("enclosure", pD0, SCSI_VPD_VENDOR_D0, 8, 16, UdidConversion::Hex, pD0.hex(8, 16));
    }
    CScsiPageView p83 = vpdOf(device, SCSI_VPD_DEVICE_ID);
    if (!needs("VPD 0x83 (by its length field)", p83, 24)) fail(MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA);
    std::string lun;
    for (uint32_t i = 8; i < 24; ++i) lun += (i > 8 ? ":" : "") + p83.hex(i, 1);
    return enclosure + "##" + note("LUN", p83, SCSI_VPD_DEVICE_ID, 8, 16, UdidConversion::Hex, lun);
}

// ---- EMC CLARiiON ----

bool CEmcClariionUdidGenerator::claimDevice(CScsiDeviceData *device) {
    if (!trimmedIds(device)) return false;
    return (device->m_vendorId == m_vendor && contains(device->m_productId, "RAID")) ||
           contains(device->m_productId, "DISK");
}

std::string CEmcClariionUdidGenerator::getUniqueDeviceIDPrefix(CScsiDeviceData *) {
    literal("vendor", "DGC");
    literal("product", "CLARIION");
    return UdidUpperCase(std::string("UDID##") + "DGC" + "##" + "CLARIION" + "##");
}

std::string CEmcClariionUdidGenerator::getUniqueDeviceIDSuffix(CScsiDeviceData *device) {
    if (device == nullptr) fail(MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA);
    CScsiPageView pC0 = storedVpd(device, SCSI_VPD_VENDOR_C0);
    if (!needs("VPD 0xC0", pC0, 1)) fail(MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA);
    // Byte 49 (the serial's length) must be stored before it is believed.
    if (!pC0.has(49, 1) || pC0.length() < uint32_t(pC0.byte(49)) + 50) {
        explainDetail("VPD 0xC0 shorter than its byte 49 + 50");
        failUnnamed(MSG_UDID_ERROR_INVALID_SCSI_PAGE_SIZE);
    }
    std::string enclosure = pC0.text(50, 14);
    note("enclosure", pC0, SCSI_VPD_VENDOR_C0, 50, uint32_t(enclosure.size()), UdidConversion::Text, enclosure);
    CScsiPageView p83 = vpdOf(device, SCSI_VPD_DEVICE_ID);
    if (!needs("VPD 0x83 (by its length field)", p83, 24)) fail(MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA);
    std::string lun;
    for (uint32_t i = 8; i < 24; ++i) lun += p83.hex(i, 1) + ":";
    lun.pop_back();
    return enclosure + "##" + note("LUN", p83, SCSI_VPD_DEVICE_ID, 8, 16, UdidConversion::Hex, lun);
}

// ---- EMC Symmetrix ----

std::string CEmcSymmetrixUdidGenerator::getUniqueDeviceIDSuffix(CScsiDeviceData *device) {
    if (device == nullptr) fail(MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA);
    CScsiPageView inq = inquiryOf(device);
    if (!needs("std inquiry (by its length field)", inq, 136)) fail(MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA);
    std::string enclosure = literal("enclosure", "00");
    enclosure += note("enclosure", inq, 0, 124, 5, UdidConversion::Hex, inq.hex(124, 5));
    char number[5] = {};
    bool extended = inq.byte(132) != 0 && inq.byte(38) == inq.byte(133) && inq.byte(39) == inq.byte(134) &&
                    inq.byte(40) == inq.byte(135);
    number[0] = extended ? static_cast<char>(inq.byte(132)) : '0';
    number[1] = static_cast<char>(inq.byte(38));
    number[2] = static_cast<char>(inq.byte(39));
    number[3] = static_cast<char>(inq.byte(40));
    // As a C string: a zero byte ends the number rather than landing in the UDID.
    std::string deviceNumber(number);
    if (m_explain != nullptr) {
        if (extended)
            note("LUN", inq, 0, 132, 1, UdidConversion::Text, deviceNumber.substr(0, 1));
        else
            literal("LUN", "0");
        std::string rest = deviceNumber.substr(1);
        note("LUN", inq, 0, 38, uint32_t(rest.size()), UdidConversion::Text, rest);
    }
    return enclosure + "##" + deviceNumber;
}

// ---- Hitachi ----

bool CHitachiUdidGenerator::claimDevice(CScsiDeviceData *device) {
    static const char *const kProducts[] = {"9200", "9500V", "DF600F", "DF600F-V", "OPEN-V", "OPEN-0V",
                                            "9900", "9910", "9980V",  "9970V",    "9960",   "USP"};
    if (!trimmedIds(device) || device->m_vendorId != "HITACHI") return false;
    for (const char *p : kProducts)
        if (startsWith(device->m_productId, p)) return true;
    return false;
}

std::string CHitachiUdidGenerator::getUniqueDeviceIDSuffix(CScsiDeviceData *device) {
    if (device == nullptr) fail(MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA);
    // The rule names bytes 36-56 but reads only 36-47 (serial and LDEV), so
    // a disk that answers those twelve bytes is named by it.
    CScsiPageView inq = inquiryOf(device);
    if (!needs("std inquiry (by its length field)", inq, kHitachiTextEnd)) fail(MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA);
    std::string s;
    for (uint32_t i = kInquiryVendorSpecific; i < kHitachiTextEnd; ++i) s += static_cast<char>(inq.byte(i));
    // "D6..." and anything else: s[4..7] as hex; "7...": s[0..7] decimal; "50 ": s[3..7] hex.
    uint32_t from = 4;
    const uint32_t to = 7;
    int base = 16;
    if (!startsWith(s, "D6") && s[0] == '7') {
        from = 0;
        base = 10;
    } else if (!startsWith(s, "D6") && startsWith(s, "50 ")) {
        from = 3;
    }
    long serial = fieldValue(s, from, to, base);
    long ldev = fieldValue(s, 8, 11, 16);
    char out[64];
    std::snprintf(out, sizeof out, "%ld##%ld", serial, ldev);
    if (m_explain != nullptr) {
        note("enclosure", inq, 0, kInquiryVendorSpecific + from, to - from + 1,
             base == 10 ? UdidConversion::DecimalNumber : UdidConversion::HexNumber, std::to_string(serial));
        note("LUN", inq, 0, kInquiryVendorSpecific + 8, 4, UdidConversion::HexNumber, std::to_string(ldev));
    }
    return out;
}

// ---- LSI / Engenio ----

bool CLsiUdidGenerator::claimDevice(CScsiDeviceData *device) {
    if (!trimmedIds(device) || UdidUpperCase(device->m_vendorId) != "LSI") return false;
    std::string product = UdidUpperCase(device->m_productId);
    return startsWith(product, "INF") || startsWith(product, "UNIVERSAL") || startsWith(product, "MPP_VIRTUAL_DISK");
}

std::string CLsiUdidGenerator::getUniqueDeviceIDSuffix(CScsiDeviceData *device) {
    if (device == nullptr) failUnnamed(MSG_UDID_ERROR_INVALID_SCSI_ENCLOSURE_DATA);
    CScsiPageView pC8 = storedVpd(device, SCSI_VPD_VENDOR_C8);
    if (!needs("VPD 0xC8", pC8, 106)) failUnnamed(MSG_UDID_ERROR_INVALID_SCSI_ENCLOSURE_DATA);
    std::string enclosure = note("enclosure", pC8, SCSI_VPD_VENDOR_C8, 90, 16, UdidConversion::Hex, pC8.hex(90, 16));
    CScsiPageView p83 = vpdOf(device, SCSI_VPD_DEVICE_ID);
    if (!needs("VPD 0x83 (by its length field)", p83, 24)) fail(MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA);
    if (p83.be16(kVpdLengthOffset) < 20) {
        explainDetail("VPD 0x83 page length below 20");
        fail(MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA);
    }
    return enclosure + "##" + note("LUN", p83, SCSI_VPD_DEVICE_ID, 8, 16, UdidConversion::Hex, p83.hex(8, 16, true));
}

// ---- NetApp ----

namespace {
// The enclosure query's answer: records from data offset 8; type 0x22 holds
// the enclosure text at +28.
constexpr uint32_t kRecordsStart = 8;
constexpr uint32_t kRecordsEnd = 256;
constexpr uint8_t kEnclosureRecord = 0x22;
constexpr uint32_t kEnclosureTextOffset = 28;
constexpr uint32_t kEnclosureTextLength = 23;
} // namespace

std::string CNetAppUdidGenerator::findEnclosureRecord(const uint8_t *data, uint32_t length, uint32_t *textOffset) {
    CScsiPageView answer(data, length);
    for (uint32_t offset = kRecordsStart; offset <= kRecordsEnd && answer.has(offset, 1);) {
        if (answer.byte(offset) == kEnclosureRecord) {
            if (textOffset != nullptr) *textOffset = offset + kEnclosureTextOffset;
            return answer.text(offset + kEnclosureTextOffset, kEnclosureTextLength);
        }
        // A step whose bytes were not transferred is 0 and ends the walk.
        uint32_t step = answer.be16(offset + 2);
        if (step < 1) break;
        offset += step;
    }
    return std::string();
}

std::string CNetAppUdidGenerator::getEnclosureId(CScsiDeviceData *device) {
    if (device == nullptr) return std::string();
    std::wstring name(device->m_deviceName.begin(), device->m_deviceName.end());
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (!CScsiDeviceHandle::isValidHandle(handle)) return std::string();

    std::vector<uint8_t> request(NETAPP_REQUEST_SIZE, 0);
    SCSI_PASS_THROUGH spt{};
    spt.Length = sizeof(SCSI_PASS_THROUGH);
    spt.CdbLength = sizeof NETAPP_ENCLOSURE_CDB;
    spt.SenseInfoLength = NETAPP_SENSE_LENGTH;
    spt.DataIn = SCSI_IOCTL_DATA_IN;
    spt.DataTransferLength = NETAPP_DATA_LENGTH;
    spt.TimeOutValue = NETAPP_TIMEOUT_SECONDS;
    spt.DataBufferOffset = NETAPP_DATA_OFFSET;
    spt.SenseInfoOffset = NETAPP_SENSE_OFFSET;
    std::memcpy(spt.Cdb, NETAPP_ENCLOSURE_CDB, sizeof NETAPP_ENCLOSURE_CDB);
    std::memcpy(request.data(), &spt, sizeof spt);

    DWORD returned = 0;
    BOOL ok = DeviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH, request.data(), NETAPP_REQUEST_SIZE, request.data(),
                              NETAPP_REQUEST_SIZE, &returned, nullptr);
    CloseHandle(handle);
    if (!ok || returned == 0) return std::string();
    std::memcpy(&spt, request.data(), sizeof spt);
    // A CHECK CONDITION leaves no answer to walk, only sense data.
    if (spt.ScsiStatus != 0) return std::string();
    // Only the bytes the device transferred are walked.
    uint32_t transferred = returned > NETAPP_DATA_OFFSET ? returned - NETAPP_DATA_OFFSET : 0;
    if (spt.DataTransferLength < transferred) transferred = spt.DataTransferLength;
    if (transferred > NETAPP_DATA_LENGTH) transferred = NETAPP_DATA_LENGTH;
    uint32_t textOffset = 0;
    std::string enclosure = findEnclosureRecord(request.data() + NETAPP_DATA_OFFSET, transferred, &textOffset);
    if (m_explain != nullptr && !enclosure.empty()) {
        UdidFieldPart part;
        part.field = "enclosure";
        part.source = UdidSource::VendorCommand;
        part.offset = textOffset;
        part.length = uint32_t(enclosure.size());
        part.hex = CScsiPageView(request.data() + NETAPP_DATA_OFFSET, transferred).hex(textOffset, enclosure.size());
        part.conversion = UdidConversion::Text;
        part.text = enclosure;
        m_explain->part(part);
    }
    return enclosure;
}

std::string CNetAppUdidGenerator::getUniqueDeviceIDSuffix(CScsiDeviceData *device) {
    if (device == nullptr) fail(MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA);
    std::string enclosure = getEnclosureId(device);
    if (enclosure.empty()) {
        explainDetail("no enclosure record in the answer to the vendor command");
        fail(MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA);
    }
    bool listed = false;
    for (uint32_t code : device->m_supportedModePageList) listed = listed || code == SCSI_VPD_DEVICE_ID;
    if (!listed) {
        explainDetail("VPD 0x83 not listed in page 0x00");
        throw CUdidGeneratorException(MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA, "NETAPP", "0x83");
    }
    CScsiPageView p83 = vpdOf(device, SCSI_VPD_DEVICE_ID);
    if (!needs("VPD 0x83 (by its length field)", p83, 33)) fail(MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA);
    return enclosure + "##" + note("LUN", p83, SCSI_VPD_DEVICE_ID, 21, 12, UdidConversion::Hex, p83.hex(21, 12));
}

// ---- Default ----

bool CDefaultUdidGenerator::claimDevice(CScsiDeviceData *device) { return trimmedIds(device); }

std::string CDefaultUdidGenerator::getUniqueDeviceIDPrefix(CScsiDeviceData *device) {
    if (device == nullptr) failUnnamed(MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA);
    std::string product = UdidTrimRight(device->m_productId);
    if (m_explain != nullptr) {
        idPart("vendor", device, kInquiryVendorOffset, UdidTrimRight(device->m_vendorId));
        idPart("product", device, kInquiryProductOffset, product, UdidConversion::TextBlanksAsUnderscores);
    }
    for (char &c : product)
        if (c == ' ') c = '_';
    return UdidUpperCase("UDID##" + UdidTrimRight(device->m_vendorId) + "##" + product + "##");
}

namespace {

std::string withoutTrailingZeros(std::string s) {
    size_t end = s.find_last_not_of('0');
    s.resize(end == std::string::npos ? 0 : end + 1);
    return s;
}

} // namespace

std::string CDefaultUdidGenerator::getUniqueDeviceIDSuffix(CScsiDeviceData *device) {
    if (device == nullptr) failUnnamed(MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA);
    if (device->isModePageSupported(SCSI_VPD_SUPPORTED_PAGES) && !UdidTrimRight(device->m_vendorId).empty()) {
        uint32_t code = SCSI_VPD_DEVICE_ID;
        CScsiPageView page = device->modePage(code);
        if (!page.present()) page = device->modePage(code = SCSI_VPD_UNIT_SERIAL);
        std::string id = withoutTrailingZeros(page.hex(0, page.length()));
        if (id.size() > 80) id = withoutTrailingZeros(id.substr(0, 80));
        // A page of zeros would give every such disk the same identifier;
        // the path and host name below at least tell the disks apart.
        if (!id.empty())
            return note("suffix", page, code, 0, uint32_t(id.size() + 1) / 2, UdidConversion::HexTrimmed, id);
    }
    char host[512] = {};
    bool named = gethostname(host, sizeof host - 1) == 0;
    std::string name = named ? std::string(host) : std::string("UNKNOWN");
    if (m_explain != nullptr) {
        m_explain->literal("suffix", device->m_deviceName, UdidSource::DevicePath);
        m_explain->literal("suffix", "@");
        m_explain->literal("suffix", name, named ? UdidSource::HostName : UdidSource::Rule);
    }
    return device->m_deviceName + "@" + name;
}

// UDID generators: one per storage-array family. The factory asks each, in
// its fixed order, whether it claims a disk; the first that claims it builds
// the UDID as "UDID##" vendor "##" product "##" suffix.
//
// Every rule reads the disk's stored pages through CScsiPageView and checks
// the stored length before it reads a byte; a disk whose data does not fit
// the rule is refused with CUdidGeneratorException, which the factory takes
// as "try the next generator".
#ifndef PROVIDERS_DEVICE_UDID_DEVICE_UDID_GENERATOR_H
#define PROVIDERS_DEVICE_UDID_DEVICE_UDID_GENERATOR_H

#include "pdk/cfibase.h"
#include "scsitool/device_scsi_data.h"
#include "udid/udid_explanation.h"

#include <cstdint>
#include <string>

// Message identifiers of CUdidGeneratorException.
extern const char *const MSG_UDID_ERROR_INVALID_SCSI_PAGE_SIZE;
extern const char *const MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA;
extern const char *const MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA;
extern const char *const MSG_UDID_ERROR_INVALID_SCSI_ENCLOSURE_DATA;

// Thrown by value, caught by reference.
class CUdidGeneratorException {
public:
    CUdidGeneratorException(const std::string &messageId, const std::string &vendor, const std::string &product);
    // messageId + ":" + vendor + ":" + product
    std::string getMessageId() const;
    const std::string &messageIdentifier() const { return m_messageId; }
    const std::string &vendor() const { return m_vendor; }
    const std::string &product() const { return m_product; }

private:
    std::string m_messageId;
    std::string m_vendor;
    std::string m_product;
};

// ASCII letters only, whatever the locale.
std::string UdidUpperCase(std::string text);
// Trailing blanks removed.
std::string UdidTrimRight(const std::string &text);

class CUdidGenerator : public virtual kelm_pdk_4_4::CFiTraceable {
public:
    CUdidGenerator(const std::string &vendor, const std::string &product);
    ~CUdidGenerator() override;

    // vendor + ":" + product
    virtual std::string getGeneratorName();
    // Device vendor and product (trailing blanks removed, and stored back
    // into the record) equal the generator's. False for a null device.
    virtual bool claimDevice(CScsiDeviceData *device);
    // "UDID##" + vendor + "##" + product + "##", upper-cased.
    virtual std::string getUniqueDeviceIDPrefix(CScsiDeviceData *device);
    // Throws CUdidGeneratorException when the device data does not fit.
    virtual std::string getUniqueDeviceIDSuffix(CScsiDeviceData *device) = 0;

    const std::string &vendor() const { return m_vendor; }
    const std::string &product() const { return m_product; }
    // Where the next builds report what they read (null: nowhere).
    void setExplanation(CUdidExplanation *explanation) { m_explain = explanation; }

protected:
    // Trims the record's vendor and product in place; false for null.
    static bool trimmedIds(CScsiDeviceData *device);
    // Throws id with this generator's names, or with two empty ones.
    [[noreturn]] void fail(const char *id) const;
    [[noreturn]] static void failUnnamed(const char *id);

    // Reporting, each a no-op without an explanation. note() returns text,
    // read by the caller from `length` bytes at `offset` of `page` (key 0:
    // the standard inquiry data, else that VPD page).
    std::string note(const char *field, const CScsiPageView &page, uint32_t code, uint32_t offset, uint32_t length,
                     UdidConversion how, const std::string &text) const;
    std::string literal(const char *field, const std::string &text) const;
    // Whether page holds `bytes` bytes; when not, what was short is noted.
    bool needs(const char *what, const CScsiPageView &page, uint32_t bytes) const;
    // text, taken from the device's vendor or product identifier, noted as
    // the inquiry bytes at offset when it is those bytes (how may turn
    // blanks into '_'; text is returned unchanged).
    std::string idPart(const char *field, const CScsiDeviceData *device, uint32_t offset, const std::string &text,
                       UdidConversion how = UdidConversion::Text) const;
    void explainDetail(const std::string &detail) const;

    std::string m_vendor;
    std::string m_product;
    CUdidExplanation *m_explain = nullptr;
};

class CHpMsaUdidGenerator : public CUdidGenerator {
public:
    CHpMsaUdidGenerator(const std::string &vendor, const std::string &product) : CUdidGenerator(vendor, product) {}
    bool claimDevice(CScsiDeviceData *device) override;
    std::string getUniqueDeviceIDSuffix(CScsiDeviceData *device) override;
};

class CHpEvaUdidGenerator : public CUdidGenerator {
public:
    CHpEvaUdidGenerator(const std::string &vendor, const std::string &product) : CUdidGenerator(vendor, product) {}
    bool claimDevice(CScsiDeviceData *device) override;
    std::string getUniqueDeviceIDSuffix(CScsiDeviceData *device) override;
};

class CIbmUdidGenerator : public CUdidGenerator {
public:
    CIbmUdidGenerator(const std::string &vendor, const std::string &product) : CUdidGenerator(vendor, product) {}
    bool claimDevice(CScsiDeviceData *device) override;
    std::string getUniqueDeviceIDSuffix(CScsiDeviceData *device) override;
    // Contains 2105, 2107, 1750 or 2145.
    virtual bool isSupportedProduct(const std::string &product);
    // Contains 3552 or 3542.
    virtual bool isSupportedAlternateProduct(const std::string &product);
};

class CIbmDsUdidGenerator : public CUdidGenerator {
public:
    CIbmDsUdidGenerator(const std::string &vendor, const std::string &product) : CUdidGenerator(vendor, product) {}
    bool claimDevice(CScsiDeviceData *device) override;
    std::string getUniqueDeviceIDSuffix(CScsiDeviceData *device) override;
    // Both: contains 1722, 1724, 1742, 1815 or 1814.
    virtual bool isSupportedProduct(const std::string &product);
    virtual bool isSupportedAlternateProduct(const std::string &product);
};

class CEmcClariionUdidGenerator : public CUdidGenerator {
public:
    CEmcClariionUdidGenerator(const std::string &vendor, const std::string &product)
        : CUdidGenerator(vendor, product) {}
    bool claimDevice(CScsiDeviceData *device) override;
    // UDID##DGC##CLARIION##, whatever the product.
    std::string getUniqueDeviceIDPrefix(CScsiDeviceData *device) override;
    std::string getUniqueDeviceIDSuffix(CScsiDeviceData *device) override;
};

class CEmcSymmetrixUdidGenerator : public CUdidGenerator {
public:
    CEmcSymmetrixUdidGenerator(const std::string &vendor, const std::string &product)
        : CUdidGenerator(vendor, product) {}
    std::string getUniqueDeviceIDSuffix(CScsiDeviceData *device) override;
};

class CHitachiUdidGenerator : public CUdidGenerator {
public:
    CHitachiUdidGenerator(const std::string &vendor, const std::string &product) : CUdidGenerator(vendor, product) {}
    bool claimDevice(CScsiDeviceData *device) override;
    std::string getUniqueDeviceIDSuffix(CScsiDeviceData *device) override;
};

class CLsiUdidGenerator : public CUdidGenerator {
public:
    CLsiUdidGenerator(const std::string &vendor, const std::string &product) : CUdidGenerator(vendor, product) {}
    bool claimDevice(CScsiDeviceData *device) override;
    std::string getUniqueDeviceIDSuffix(CScsiDeviceData *device) override;
};

// The NetApp vendor-specific enclosure query: CDB C0 00 00 0A 98 0A 22 10 00
// 00 through IOCTL_SCSI_PASS_THROUGH in a 4192-byte request whose data
// starts at offset 92.
constexpr uint8_t NETAPP_ENCLOSURE_CDB[10] = {0xC0, 0x00, 0x00, 0x0A, 0x98, 0x0A, 0x22, 0x10, 0x00, 0x00};
constexpr uint32_t NETAPP_REQUEST_SIZE = 4192;
constexpr uint32_t NETAPP_SENSE_OFFSET = 60;
constexpr uint32_t NETAPP_SENSE_LENGTH = 32;
constexpr uint32_t NETAPP_DATA_OFFSET = 92;
constexpr uint32_t NETAPP_DATA_LENGTH = 4096;
constexpr uint32_t NETAPP_TIMEOUT_SECONDS = 60;

class CNetAppUdidGenerator : public CUdidGenerator {
public:
    CNetAppUdidGenerator(const std::string &vendor, const std::string &product) : CUdidGenerator(vendor, product) {}
    std::string getUniqueDeviceIDSuffix(CScsiDeviceData *device) override;
    // Sends the enclosure query to the device; the enclosure text, or empty
    // when the device cannot be opened, the query fails or no record holds it.
    virtual std::string getEnclosureId(CScsiDeviceData *device);
    // The record walk over the query's returned data (length bytes);
    // textOffset, when given, receives where the text starts.
    static std::string findEnclosureRecord(const uint8_t *data, uint32_t length, uint32_t *textOffset = nullptr);
};

class CDefaultUdidGenerator : public CUdidGenerator {
public:
    CDefaultUdidGenerator(const std::string &vendor, const std::string &product) : CUdidGenerator(vendor, product) {}
    // Always true (for a non-null device).
    bool claimDevice(CScsiDeviceData *device) override;
    // The device's own vendor and product, blanks in the product as "_".
    std::string getUniqueDeviceIDPrefix(CScsiDeviceData *device) override;
    std::string getUniqueDeviceIDSuffix(CScsiDeviceData *device) override;
};

#endif // PROVIDERS_DEVICE_UDID_DEVICE_UDID_GENERATOR_H

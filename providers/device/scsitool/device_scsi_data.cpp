#include "scsitool/device_scsi_data.h"

#include "scsitool/scsi_bytes.h"

#include "pdk/cfistringtool.h"

#include <algorithm>

using kelm_pdk_4_4::CFiStringTool;

CScsiPageView::CScsiPageView(const uint8_t *data, uint32_t length)
    : m_data(length > 0 ? data : nullptr), m_length(data != nullptr ? length : 0) {}

bool CScsiPageView::has(uint64_t offset, uint64_t count) const {
    // Subtracting rather than adding, so no offset or count can wrap.
    return offset <= m_length && count <= m_length - offset;
}

uint8_t CScsiPageView::byte(uint64_t offset) const { return has(offset, 1) ? m_data[offset] : 0; }

uint16_t CScsiPageView::be16(uint64_t offset) const { return has(offset, 2) ? LoadBe16(m_data + offset) : 0; }

uint32_t CScsiPageView::be32(uint64_t offset) const { return has(offset, 4) ? LoadBe32(m_data + offset) : 0; }

std::string CScsiPageView::text(uint64_t offset, uint64_t maxChars) const {
    std::string out;
    if (offset >= m_length) return out;
    uint64_t end = offset + std::min<uint64_t>(maxChars, m_length - offset);
    for (uint64_t i = offset; i < end && m_data[i] != 0; ++i) out.push_back(static_cast<char>(m_data[i]));
    return out;
}

std::string CScsiPageView::hex(uint64_t offset, uint64_t count, bool upper) const {
    std::string out;
    if (offset >= m_length) return out;
    uint64_t end = offset + std::min<uint64_t>(count, m_length - offset);
    out.reserve(static_cast<size_t>(end - offset) * 2);
    const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    for (uint64_t i = offset; i < end; ++i) {
        out.push_back(digits[m_data[i] >> 4]);
        out.push_back(digits[m_data[i] & 0x0F]);
    }
    return out;
}

CScsiDeviceData::CScsiDeviceData(const std::wstring &deviceName, const std::wstring &alternateDevicePath,
                                 const std::wstring &hostName, uint32_t targetId, uint32_t pathId, uint32_t lun,
                                 uint32_t portNumber, const std::wstring &vendorId, const std::wstring &productId,
                                 const std::wstring &firmwareLevel, uint64_t capacity)
    : m_deviceName(CFiStringTool::toNarrow(deviceName)),
      m_alternateDevicePath(CFiStringTool::toNarrow(alternateDevicePath)),
      m_hostName(CFiStringTool::toNarrow(hostName)),
      m_vendorId(CFiStringTool::toNarrow(vendorId)),
      m_productId(CFiStringTool::toNarrow(productId)),
      m_firmwareLevel(CFiStringTool::toNarrow(firmwareLevel)),
      m_targetId(targetId),
      m_lun(lun),
      m_pathId(pathId),
      m_portNumber(portNumber),
      m_capacity(capacity) {}

CScsiDeviceData::~CScsiDeviceData() = default;

const uint8_t *CScsiDeviceData::getModePage(uint32_t pageCode, uint32_t &length) const {
    auto it = m_modePages.find(pageCode);
    if (it == m_modePages.end() || it->second.empty()) {
        length = 0;
        return nullptr;
    }
    length = static_cast<uint32_t>(it->second.size());
    return it->second.data();
}

CScsiPageView CScsiDeviceData::modePage(uint32_t pageCode) const {
    uint32_t length = 0;
    const uint8_t *data = getModePage(pageCode, length);
    return CScsiPageView(data, length);
}

bool CScsiDeviceData::isModePageSupported(uint32_t pageCode) const {
    return std::find(m_supportedModePageList.begin(), m_supportedModePageList.end(), pageCode) !=
           m_supportedModePageList.end();
}

void CScsiDeviceData::setModePage(uint32_t pageCode, const uint8_t *data, uint32_t length) {
    if (data == nullptr || length == 0) {
        m_modePages.erase(pageCode);
        return;
    }
    m_modePages[pageCode].assign(data, data + length);
}

void CScsiDeviceData::removeModePage(uint32_t pageCode) { m_modePages.erase(pageCode); }

std::vector<uint32_t> CScsiDeviceData::storedModePages() const {
    std::vector<uint32_t> codes;
    codes.reserve(m_modePages.size());
    for (const auto &entry : m_modePages) codes.push_back(entry.first);
    return codes;
}

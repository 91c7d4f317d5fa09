#include "udid/udid_explanation.h"

#include "udid/device_udid_generator.h"

#include <cstdio>

void CUdidExplanation::literal(const std::string &field, const std::string &text, UdidSource source) {
    UdidFieldPart p;
    p.field = field;
    p.source = source;
    p.text = text;
    m_pending.push_back(p);
}

void CUdidExplanation::declined(const std::string &rule) {
    m_pending.clear();
    m_detail.clear();
    m_verdicts.push_back({rule, false, false, "does not claim it"});
}

void CUdidExplanation::refused(const std::string &rule, const std::string &messageId) {
    m_verdicts.push_back({rule, true, false, m_detail.empty() ? messageId : messageId + " (" + m_detail + ")"});
    m_pending.clear();
    m_detail.clear();
}

void CUdidExplanation::named(const std::string &rule) {
    m_verdicts.push_back({rule, true, true, std::string()});
    m_parts = m_pending;
    m_pending.clear();
    m_detail.clear();
}

std::string CUdidExplanation::rebuild() const {
    std::string udid = "UDID";
    const std::string *field = nullptr;
    for (const UdidFieldPart &p : m_parts) {
        if (field == nullptr || *field != p.field) udid += "##";
        field = &p.field;
        udid += p.text;
    }
    return UdidUpperCase(udid);
}

std::string UdidSourceName(const UdidFieldPart &part) {
    switch (part.source) {
    case UdidSource::Rule: return "rule";
    case UdidSource::Inquiry: return "std inquiry";
    case UdidSource::VendorCommand: return "vendor command";
    case UdidSource::DevicePath: return "device path";
    case UdidSource::HostName: return "host name";
    case UdidSource::VpdPage: break;
    }
    char name[16];
    std::snprintf(name, sizeof name, "VPD 0x%02X", static_cast<unsigned>(part.page));
    return name;
}

std::string UdidConversionName(UdidConversion conversion) {
    switch (conversion) {
    case UdidConversion::Literal: return "-";
    case UdidConversion::Text: return "text";
    case UdidConversion::TextBlanksAsUnderscores: return "text, _ for blank";
    case UdidConversion::Hex: return "hex";
    case UdidConversion::HexTrimmed: return "hex, 0s trimmed";
    case UdidConversion::HexNumber: return "hex number";
    case UdidConversion::DecimalNumber: return "decimal number";
    }
    return "?";
}

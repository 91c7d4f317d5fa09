// Why a disk has the UDID it has: the rules the factory asked (declined,
// refused with the reason, or the one that named it) and, for the rule that
// named it, where each piece of each UDID field came from.
//
// Generators and the factory report here only when a recorder is set (see
// CUDIDFactory::explainUniqueDeviceID); without one each report is a null
// pointer test, and no UDID depends on whether one is set.
#ifndef PROVIDERS_DEVICE_UDID_UDID_EXPLANATION_H
#define PROVIDERS_DEVICE_UDID_UDID_EXPLANATION_H

#include <cstdint>
#include <string>
#include <vector>

// Where a piece of a UDID field was read.
enum class UdidSource {
    Rule,           // a constant of the rule (its names, "IBM.", "00", "-")
    Inquiry,        // standard inquiry data
    VpdPage,        // the VPD page in `page`
    VendorCommand,  // the answer to the rule's own vendor-specific command
    DevicePath,     // the disk's path on this host
    HostName,       // this host's name
};

// How the bytes became text.
enum class UdidConversion {
    Literal,       // no bytes: the text is the rule's own
    Text,          // the bytes as characters, up to the first zero byte
    TextBlanksAsUnderscores,
    Hex,           // two digits a byte; grouping characters ('-', ':') may be added
    HexTrimmed,    // as Hex, with trailing '0' digits removed
    HexNumber,     // the characters read as a hexadecimal number, printed in decimal
    DecimalNumber, // the characters read as a decimal number, printed in decimal
};

struct UdidFieldPart {
    std::string field;  // "vendor", "product", "enclosure", "LUN" or "suffix"
    UdidSource source = UdidSource::Rule;
    uint32_t page = 0;  // VPD page code (VpdPage only)
    uint32_t offset = 0;
    uint32_t length = 0;
    std::string hex;    // the bytes at offset, two lower-case digits each
    UdidConversion conversion = UdidConversion::Literal;
    std::string text;   // what they became, before the factory upper-cases the UDID
};

struct UdidRuleVerdict {
    std::string rule;    // generator name ("HP:MSA"; the default rule is ":")
    bool claimed = false;
    bool named = false;  // claimed and built the UDID
    std::string reason;  // refusal: message id, and what was short when known
};

class CUdidExplanation {
public:
    // From generators, while one builds a UDID.
    void part(const UdidFieldPart &part) { m_pending.push_back(part); }
    void literal(const std::string &field, const std::string &text, UdidSource source = UdidSource::Rule);
    // What a refusal was about ("page 0x83: 40 bytes, the rule reads 68").
    void detail(const std::string &text) { m_detail = text; }

    // From the factory, once per generator asked.
    void declined(const std::string &rule);
    void refused(const std::string &rule, const std::string &messageId);
    void named(const std::string &rule);

    const std::vector<UdidRuleVerdict> &verdicts() const { return m_verdicts; }
    // The naming rule's pieces in UDID order.
    const std::vector<UdidFieldPart> &parts() const { return m_parts; }
    // "UDID##" + the fields' texts joined by "##", upper-cased: the UDID.
    std::string rebuild() const;

private:
    std::vector<UdidRuleVerdict> m_verdicts;
    std::vector<UdidFieldPart> m_pending;  // of the rule being asked
    std::vector<UdidFieldPart> m_parts;
    std::string m_detail;
};

// "std inquiry", "VPD 0x83", "vendor command", "rule"...
std::string UdidSourceName(const UdidFieldPart &part);
std::string UdidConversionName(UdidConversion conversion);

#endif // PROVIDERS_DEVICE_UDID_UDID_EXPLANATION_H

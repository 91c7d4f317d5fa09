// kelm-host explain PATH: for one disk, the rule that named it and which
// bytes of which page made each field of its UDID, the rules that claimed it
// but refused it and why, and its page 0x83 designators as SCSI tools print
// them, so that the UDID can be set beside what multipath software shows.
#include "commands.h"

#include "scsitool/scsi_designators.h"
#include "udid/device_udid_factory.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kelm_host {
namespace {

std::string upper(std::string s) { return UdidUpperCase(std::move(s)); }

// "\\.\PHYSICALDRIVE2", "\\?\PhysicalDrive2" and "PhysicalDrive2" alike.
std::string bareName(const std::string &name) {
    bool prefixed = name.compare(0, 4, "\\\\.\\") == 0 || name.compare(0, 4, "\\\\?\\") == 0;
    return upper(prefixed ? name.substr(4) : name);
}

struct RuleName {
    const char *generator;
    const char *family;
};
const RuleName kRules[] = {{"HP:MSA", "HP MSA"},           {"HP:HSV", "HP EVA"},
                           {"IBM:TOTALSTORAGE", "IBM TotalStorage"}, {"IBM:DISKSYSTEM", "IBM DS"},
                           {"DGC:", "EMC CLARiiON"},       {"EMC:SYMMETRIX", "EMC Symmetrix"},
                           {"HITACHI:HDS", "Hitachi"},     {"ENGENIO:UNIVERSAL", "LSI / Engenio"},
                           {"NETAPP:LUN", "NetApp"},       {":", "default"}};

std::string family(const std::string &generator) {
    for (const RuleName &r : kRules)
        if (generator == r.generator) return r.family;
    return generator;
}

void printFields(const CUdidExplanation &e) {
    std::printf("fields:\n  %-10s %-14s %6s %4s  %-17s %-32s  %s\n", "FIELD", "PAGE", "OFFSET", "LEN", "AS", "HEX",
                "TEXT");
    for (const UdidFieldPart &p : e.parts()) {
        bool bytes = p.conversion != UdidConversion::Literal;
        std::string offset = bytes ? std::to_string(p.offset) : "-", length = bytes ? std::to_string(p.length) : "-";
        std::printf("  %-10s %-14s %6s %4s  %-17s %-32s  \"%s\"\n", p.field.c_str(), UdidSourceName(p).c_str(),
                    offset.c_str(), length.c_str(), UdidConversionName(p.conversion).c_str(),
                    bytes ? p.hex.c_str() : "-", p.text.c_str());
    }
}

void printVerdicts(const CUdidExplanation &e) {
    std::string declined;
    std::printf("rules asked, in order:\n");
    for (const UdidRuleVerdict &v : e.verdicts()) {
        if (!v.claimed) {
            declined += (declined.empty() ? "" : ", ") + family(v.rule);
            continue;
        }
        if (v.named) std::printf("  %-18s named it\n", family(v.rule).c_str());
        else std::printf("  %-18s refused it: %s\n", family(v.rule).c_str(), v.reason.c_str());
    }
    if (!declined.empty()) std::printf("  did not claim it: %s\n", declined.c_str());
}

int runExplain(ProviderHost &, const std::vector<std::string> &args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "kelm-host explain: needs one disk (device path, DOS name or UDID)\n");
        return 2;
    }
    const std::string &wanted = args[0];
    bool byUdid = upper(wanted).compare(0, 6, "UDID##") == 0;
    CUDIDFactory factory;
    std::vector<CScsiDeviceData *> records = factory.pnpManager().rescan(false, false, false);
    std::vector<std::unique_ptr<CScsiDeviceData>> owned(records.begin(), records.end());
    for (const std::unique_ptr<CScsiDeviceData> &d : owned) {
        bool answered = d->stdInquiry().present();
        if (!byUdid && bareName(d->m_deviceName) != bareName(wanted)) continue;
        if (byUdid && (!answered || upper(factory.getUniqueDeviceID(d.get())) != upper(wanted))) continue;

        std::printf("disk:  %s  (%s %s, revision %s)\n", d->m_deviceName.c_str(), d->m_vendorId.c_str(),
                    d->m_productId.c_str(), d->m_firmwareLevel.c_str());
        if (!answered) {
            std::printf("UDID:  none: the disk did not answer INQUIRY\n");
            return 0;
        }
        CUdidExplanation explanation;
        std::string generator;
        std::string udid = factory.explainUniqueDeviceID(d.get(), explanation, generator);
        std::printf("UDID:  %s\nrule:  %s (generator %s)\n", udid.c_str(), family(generator).c_str(),
                    generator.c_str());
        printFields(explanation);
        printVerdicts(explanation);
        CScsiPageView p83 = d->modePage(SCSI_VPD_DEVICE_ID);
        std::printf("page 0x83 designators (%u bytes stored):\n", p83.length());
        if (!p83.present()) std::printf("  page 0x83 not stored\n");
        else
            for (const std::string &line : FormatDeviceIdPage(p83.data(), p83.length(), 2, true))
                std::printf("%s\n", line.c_str());
        return 0;
    }
    std::fprintf(stderr, "kelm-host explain: no disk \"%s\" on this host (see \"kelm-host disks\")\n", wanted.c_str());
    return 1;
}

const CommandRegistration reg{{"explain",
                               "why a disk has its UDID: the rule, the bytes behind each field, the rules that "
                               "refused it and its page 0x83 designators",
                               "explain PATH|DOSNAME|UDID", &runExplain, false}};

} // namespace
} // namespace kelm_host

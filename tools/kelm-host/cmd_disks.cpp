// kelm-host disks: every disk of the (simulated) host with the generator
// that named it and its UDID, and the generators that claimed it but had to
// pass it on, so that one can see why a LUN got the identifier it got.
// --json prints the same as one object (docs/kelm-host-json.md).
#include "commands.h"
#include "json_output.h"

#include "udid/device_udid_factory.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kelm_host {

namespace {

struct DiskRow {
    std::string path, vendor, product, revision;
    uint32_t pathId = 0, target = 0, lun = 0;
    bool inquiry = false;
    std::string generator; // "" when no rule named the disk, ":" the default rule
    std::string udid;
    std::vector<std::string> refusals;
};

void printJson(const std::vector<DiskRow> &rows) {
    JsonWriter json(stdout);
    json.beginObject();
    json.member("command", "disks");
    json.member("ok", true);
    json.key("disks");
    json.beginArray();
    for (const DiskRow &d : rows) {
        json.beginObject();
        json.member("path", d.path);
        json.member("vendor", d.vendor);
        json.member("product", d.product);
        json.member("revision", d.revision);
        json.key("address");
        json.beginObject();
        json.member("path_id", d.pathId);
        json.member("target", d.target);
        json.member("lun", d.lun);
        json.endObject();
        json.member("inquiry", d.inquiry);
        json.key("rule");
        if (d.generator.empty()) json.null();
        else json.value(d.generator == ":" ? std::string("default") : d.generator);
        json.key("udid");
        if (d.udid.empty()) json.null();
        else json.value(d.udid);
        json.key("refused_by");
        json.beginArray();
        for (const std::string &r : d.refusals) {
            // "rule: message id"; a rule's name holds colons but no blank.
            size_t split = r.find(": ");
            json.beginObject();
            json.member("rule", r.substr(0, split));
            json.member("message_id", split == std::string::npos ? std::string() : r.substr(split + 2));
            json.endObject();
        }
        json.endArray();
        json.endObject();
    }
    json.endArray();
    json.member("count", rows.size());
    json.endObject();
}

int runDisks(ProviderHost &, const std::vector<std::string> &given) {
    std::vector<std::string> args = given;
    const bool asJson = takeJsonFlag(args);
    if (!args.empty()) {
        std::fprintf(stderr, "kelm-host disks: takes no arguments\n");
        if (asJson) printJsonFailure("disks", "takes no arguments", nullptr);
        return 2;
    }
    CUDIDFactory factory;
    std::vector<CScsiDeviceData *> records = factory.pnpManager().rescan(false, false, false);
    std::vector<std::unique_ptr<CScsiDeviceData>> owned(records.begin(), records.end());
    std::vector<DiskRow> rows;
    for (const std::unique_ptr<CScsiDeviceData> &d : owned) {
        DiskRow row;
        row.path = d->m_deviceName;
        row.vendor = d->m_vendorId;
        row.product = d->m_productId;
        row.revision = d->m_firmwareLevel;
        row.pathId = d->m_pathId;
        row.target = d->m_targetId;
        row.lun = d->m_lun;
        row.inquiry = d->stdInquiry().present();
        if (row.inquiry) row.udid = factory.getUniqueDeviceID(d.get(), row.generator, &row.refusals);
        rows.push_back(std::move(row));
    }
    if (asJson) {
        printJson(rows);
        return 0;
    }
    std::printf("%-22s %-8s %-16s %-18s %s\n", "PATH", "VENDOR", "PRODUCT", "GENERATOR", "UDID");
    for (const DiskRow &d : rows) {
        std::string generator = d.inquiry ? d.generator : "(no inquiry data)";
        if (generator == ":") generator = ": (default)";
        std::printf("%-22s %-8s %-16s %-18s %s\n", d.path.c_str(), d.vendor.c_str(), d.product.c_str(),
                    generator.c_str(), d.udid.c_str());
        for (const std::string &r : d.refusals) std::printf("%-22s refused by %s\n", "", r.c_str());
    }
    std::printf("%zu disk(s)\n", rows.size());
    return 0;
}

const CommandRegistration reg{
    {"disks", "list the host's disks: path, vendor, product, the generator that named each and its UDID", "disks [--json]",
     &runDisks, false}};

} // namespace
} // namespace kelm_host

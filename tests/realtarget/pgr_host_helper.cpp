// A second simulated host in a process of its own, for the reservation tests
// against real targets: one simulated disk backed by the iSCSI logical unit,
// one provider, driven line by line on stdin for as long as the test needs
// it (the target binds registrations to this process's session).
//
//   pgr_host_helper URL       (the initiator is the fixture's hostB())
//   stdin:  "reserve KEY FLAGS" | "release KEY FLAGS" | "quit"
//   stdout: "T <line>" for each trace line of the call, then "S <status>";
//           "E <reason>" when the set-up failed.
#include "device_plugin.h"
#include "realtarget_fixture.h"

#include "pdk/cfierror.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"
#include "platform/simhost.h"
#include "test_env.h"

#include <iostream>
#include <sstream>
#include <string>

using namespace kelm_pdk_4_4;

namespace {

class LinePrinter : public CFiErrorHandlerBase {
public:
    int handleText(const std::string &text, kel_eseverity) override {
        size_t at = text.find("> ");
        std::string line = at == std::string::npos ? text : text.substr(at + 2);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (line.rfind("Entering Function ", 0) == 0 || line.rfind("Exiting Function ", 0) == 0) return 0;
        for (char &c : line)
            if (c == '\n') c = ' ';
        std::cout << "T " << line << '\n';
        return 0;
    }
    int handleMessage(const CFiMessagePtr &) override { return 0; }
};

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::cout << "E usage: pgr_host_helper URL" << std::endl;
        return 2;
    }
    auto host = rendo_sim::Host::create("HOSTB");
    host->setInitiator(rendo_realtarget::hostB());
    rendo_sim::Lun &lun = host->addDisk(rendo_sim::DiskSpec::make("RENDO", "VDISK", "0001").iscsi(argv[1]));
    const std::string path = lun.devicePath();

    std::string root = rendo_test::makeInstallRoot("pgrhelper");
    int status = 0;
    {
        LinePrinter printer;
        CFiErrorManagerPtr errors(new CFiErrorManager);
        CFiTraceLogPtr log(new CFiTraceLog);
        CFiSmartPtr<CDevicePlugin> provider(new CDevicePlugin);
        errors->registerHandler(&printer);
        log->initialize(WString(L"rendo"), CFiStringTool::toWide(root + "Logs"), WString(L"pgr.log"), 6, false);
        log->registerErrorManager(errors);
        provider->setTraceLog(log);
        provider->registerErrorManager(errors);
        if (root.empty() || provider->init() != 0) {
            std::cout << "E provider set-up failed" << std::endl;
            status = 2;
        } else {
            std::cout << "P " << path << std::endl;
        }
        rendo_sim::ScopedHost use(host);
        std::string line;
        while (status == 0 && std::getline(std::cin, line)) {
            std::istringstream words(line);
            std::string verb, key;
            int flags = 0;
            words >> verb >> key >> flags;
            if (verb == "quit") break;
            int result = -1;
            if (verb == "reserve") result = provider->diskReserve(path, key, flags);
            else if (verb == "release") result = provider->diskRelease(path, key, flags);
            std::cout << "S " << result << std::endl;
        }
        CPGRLogManagerSingleton::instance()->setTraceLog(CFiTraceLogPtr());
        CPGRToolSingleton::instance()->setTraceLog(CFiTraceLogPtr());
        provider.reset();
        log.reset();
        errors->unregisterHandler(&printer);
    }
    rendo_test::removeTree(root);
    return status;
}

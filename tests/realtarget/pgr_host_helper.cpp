// A second simulated host in a process of its own, for the reservation tests
// against real targets: one simulated disk backed by the iSCSI logical unit,
// one provider set up as the flow tests' fixture sets it up, driven line by
// line on stdin for as long as the test needs it (the target binds
// registrations to this process's session).
//
//   pgr_host_helper URL       (the initiator is the fixture's hostB())
//   stdin:  "reserve KEY FLAGS" | "release KEY FLAGS" | "quit"
//   stdout: "T <line>" for each trace line of the call, then "S <status>";
//           "E <reason>" when the set-up failed.
#include "pgr_test_support.h"
#include "realtarget_fixture.h"

#include "platform/simhost.h"

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>

namespace {

struct HostB : pgr_test::ProviderFixture {
    void TestBody() override {}
};

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::cout << "E usage: pgr_host_helper URL" << std::endl;
        return 2;
    }
    auto host = rendo_sim::Host::create("HOSTB");
    host->setInitiator(rendo_realtarget::hostB());
    const std::string path =
        host->addDisk(rendo_sim::DiskSpec::make("RENDO", "VDISK", "0001").iscsi(argv[1])).devicePath();
    HostB b;
    b.SetUp();
    if (::testing::Test::HasFailure()) {
        std::cout << "E provider set-up failed" << std::endl;
        return 2;
    }
    std::cout << "P " << path << std::endl;
    {
        rendo_sim::ScopedHost use(host);
        for (std::string line; std::getline(std::cin, line);) {
            std::istringstream words(line);
            std::string verb, key;
            int flags = 0;
            words >> verb >> key >> flags;
            if (verb == "quit") break;
            const int result = verb == "reserve"   ? b.provider->diskReserve(path, key, flags)
                               : verb == "release" ? b.provider->diskRelease(path, key, flags)
                                                   : -1;
            for (std::string text : b.lines()) {
                std::replace(text.begin(), text.end(), '\n', ' ');
                std::cout << "T " << text << '\n';
            }
            b.clearLines();
            std::cout << "S " << result << std::endl;
        }
    }
    b.TearDown();
    return 0;
}

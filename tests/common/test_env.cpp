#include "test_env.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace rendo_test {

namespace {
// The simulated SAN's state directory of this test process, fresh and removed
// at exit (by this process, not by forked children), so that test binaries
// running side by side never contend for one logical unit. A directory named
// by the caller is left alone.
struct PrivateSanState {
    std::string dir;
    pid_t owner = getpid();
    PrivateSanState() {
        if (std::getenv("RENDO_SIM_STATE") != nullptr) return;
        std::string pattern = (fs::temp_directory_path() / "rendo-simstate-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return;
        dir = pattern;
        setenv("RENDO_SIM_STATE", dir.c_str(), 1);
    }
    ~PrivateSanState() {
        std::error_code ec;
        if (!dir.empty() && getpid() == owner) fs::remove_all(dir, ec);
    }
} g_privateSanState;
} // namespace

std::string makeInstallRoot(const std::string &tag) {
    std::string pattern = (fs::temp_directory_path() / ("rendo-" + tag + "-XXXXXX")).string();
    char *dir = mkdtemp(pattern.data());
    if (dir == nullptr) return std::string();
    std::string root = std::string(dir) + "/";
    std::error_code ec;
    fs::copy(RENDO_BUNDLE_DIR, root + "Messages", fs::copy_options::recursive, ec);
    setenv("KELM_INSTALL_ROOT", root.c_str(), 1);
    unsetenv("KELM_CONSUMER_NAME");
    unsetenv("KELM_CREDENTIALS_FILE");
    return root;
}

void removeTree(const std::string &path) {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool fileExists(const std::string &path) { return fs::exists(path); }

} // namespace rendo_test

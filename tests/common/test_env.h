// Shared test fixtures: a private install root per test, and buffer
// accounting checks against the framework utility library.
#ifndef TESTS_COMMON_TEST_ENV_H
#define TESTS_COMMON_TEST_ENV_H

#include <string>

namespace rendo_test {

// Creates a fresh install root under the system temp dir with the message
// bundles in its Messages/ folder, points KELM_INSTALL_ROOT at it and returns
// it (ending with '/'). Clears KELM_CONSUMER_NAME and KELM_CREDENTIALS_FILE.
std::string makeInstallRoot(const std::string &tag);

// Removes a directory tree made by makeInstallRoot.
void removeTree(const std::string &path);

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &text);
bool fileExists(const std::string &path);

} // namespace rendo_test

#endif // TESTS_COMMON_TEST_ENV_H

// Shared helpers of the parameter list and private data tests: framework
// nodes built in memory, and a trace log writing to a private install root.
#ifndef TESTS_UNIT_PARAMLISTS_FIXTURE_H
#define TESTS_UNIT_PARAMLISTS_FIXTURE_H

#include "kelm/kel_types.h"
#include "pdk/cfitracelog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace paramlists_test {

// A framework node and its object record, named name.
struct Node {
    explicit Node(const std::wstring &n);
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;
    std::wstring name;
    kelm_objid obj{};
    kel_domain domain{};
};

// A private install root and an initialised trace log at level 6.
class TracedTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The messages written to the trace file so far, one per trace call.
    std::vector<std::string> messages() const;
    // True when some trace call wrote exactly text.
    bool traced(const std::string &text) const;
    // Number of messages that start with prefix.
    int countStartingWith(const std::string &prefix) const;

    std::string root;
    kelm_pdk_4_4::CFiTraceLogPtr log;
};

} // namespace paramlists_test

#endif // TESTS_UNIT_PARAMLISTS_FIXTURE_H

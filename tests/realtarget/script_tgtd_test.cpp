// examples/tgtd-two-hosts.kelm against a private tgtd: the script a storage
// engineer replays must keep doing what its comments say.
#include "realtarget_fixture.h"

#include <gtest/gtest.h>

#include <string>

using namespace rendo_realtarget;

TEST(ScriptTgtd, TwoHostsContendForOneLogicalUnit) {
    TgtdTarget tgtd;
    std::string error, out;
    ASSERT_TRUE(tgtd.start(&error)) << error;
    const std::string iqn = tgtd.addTarget("script", &error);
    ASSERT_TRUE(!iqn.empty() && tgtd.addLogicalUnit(iqn, 1, LogicalUnitSpec{}, &error)) << error;
    ASSERT_EQ(0, runProgram({"/usr/bin/env", "TGTD_PORTAL=" + tgtd.portal(), "TGTD_IQN=" + iqn,
                             "RENDO_SIM_STATE=" + ::testing::TempDir() + "simstate-script-tgtd", RENDO_KELM_HOST, "run",
                             RENDO_SOURCE_DIR "/examples/tgtd-two-hosts.kelm"},
                            &out, 30000))
        << out;

    // In this order: A reserves the target's disk; B may not (1099); B, then
    // A again, read A's key and reservation; A releases.
    const std::string keysOfA = "registered keys (1):\n  [c000021f]\nreservation: key [c000021f], type 5 ";
    size_t at = 0;
    for (const std::string &step :
         {std::string("> disks\n"), std::string(" RENDO    VDISK "),
          std::string("with key [c000021f], flags 0x4000: 0 (done)\n"),
          std::string("with key [c0000220], flags 0x4000: 1099 ("),
          std::string("> keys \\\\.\\PHYSICALDRIVE0\n") + keysOfA,
          std::string("> keys \\\\.\\PHYSICALDRIVE0\n") + keysOfA,
          std::string("diskRelease \\\\.\\PHYSICALDRIVE0 with key [c000021f], flags 0x14800: 0 (done)\n")}) {
        at = out.find(step, at);
        ASSERT_NE(at, std::string::npos) << "missing, in order: " << step << "\n" << out;
    }
}

# The simulated SAN: two kelm-host processes with two host descriptions
# (examples/host-a.txt, host-b.txt) contend for one logical unit through one
# state directory of their own. Each step is the fixture of the next, so the
# steps run in order (and running one runs those before it).
set(SAN_STATE ${CMAKE_CURRENT_BINARY_DIR}/simstate-san)
set(SAN_A "RENDO_SIM_HOST=${CMAKE_SOURCE_DIR}/examples/host-a.txt;RENDO_SIM_STATE=${SAN_STATE}")
set(SAN_B "RENDO_SIM_HOST=${CMAKE_SOURCE_DIR}/examples/host-b.txt;RENDO_SIM_STATE=${SAN_STATE}")
set(SAN_DISK "\\\\.\\PHYSICALDRIVE0")

add_test(NAME kelmhost.san.reset COMMAND kelm-host san reset)
set_tests_properties(kelmhost.san.reset PROPERTIES ENVIRONMENT "${SAN_A}" FIXTURES_SETUP san.clean
  PASS_REGULAR_EXPRESSION "state file\\(s\\) removed from ")

add_test(NAME kelmhost.san.aReserves COMMAND kelm-host reserve ${SAN_DISK} --register)
set_tests_properties(kelmhost.san.aReserves PROPERTIES ENVIRONMENT "${SAN_A}"
  FIXTURES_REQUIRED san.clean FIXTURES_SETUP san.a
  PASS_REGULAR_EXPRESSION "key \\[c000021f\\], flags 0x4000: 0 \\(done\\).*reservation: key \\[c000021f\\], type 5")

# B registers, finds A's reservation, unregisters and reports 1099.
add_test(NAME kelmhost.san.bConflicts COMMAND kelm-host reserve ${SAN_DISK} --register)
set_tests_properties(kelmhost.san.bConflicts PROPERTIES ENVIRONMENT "${SAN_B}"
  FIXTURES_REQUIRED "san.clean;san.a" FIXTURES_SETUP san.b
  PASS_REGULAR_EXPRESSION "key \\[c0000220\\], flags 0x4000: 1099 \\(reserved under another key")

add_test(NAME kelmhost.san.bSeesAKey COMMAND kelm-host keys ${SAN_DISK})
set_tests_properties(kelmhost.san.bSeesAKey PROPERTIES ENVIRONMENT "${SAN_B}"
  FIXTURES_REQUIRED "san.clean;san.a;san.b" FIXTURES_SETUP san.keys
  PASS_REGULAR_EXPRESSION "^registered keys \\(1\\):\n  \\[c000021f\\]\nreservation: key \\[c000021f\\], type 5")

add_test(NAME kelmhost.san.show COMMAND kelm-host san show --json)
set_tests_properties(kelmhost.san.show PROPERTIES ENVIRONMENT "${SAN_B}"
  FIXTURES_REQUIRED "san.clean;san.a;san.b;san.keys" FIXTURES_SETUP san.shown
  PASS_REGULAR_EXPRESSION "\"identity\": \"shared-db\",\n *\"generation\": 3,\n *\"registrations\": \\[\n *{\n *\"initiator\": \"iqn.2026-12.org.rendo.sim:nodea\",\n *\"target_port\": 1,\n *\"key_hex\": \"0x6330303030323166\",\n *\"key_text\": \"c000021f\"\n *}\n *\\],\n *\"reservation\": {\n *\"holder\": \"iqn.2026-12.org.rendo.sim:nodea\"")

# B killed between writing its update and renaming it into place (a test
# hook): the unit keeps A's state, the unfinished update is noted, and
# nothing reads as corrupt.
add_test(NAME kelmhost.san.bKilledMidUpdate COMMAND kelm-host reserve ${SAN_DISK} --register)
set_tests_properties(kelmhost.san.bKilledMidUpdate PROPERTIES
  ENVIRONMENT "${SAN_B};RENDO_SIM_STATE_CRASH=before-rename" WILL_FAIL TRUE
  FIXTURES_REQUIRED "san.clean;san.a;san.b;san.keys;san.shown" FIXTURES_SETUP san.killed)
add_test(NAME kelmhost.san.afterKill COMMAND kelm-host san show)
set_tests_properties(kelmhost.san.afterKill PROPERTIES ENVIRONMENT "${SAN_A}"
  FIXTURES_REQUIRED "san.clean;san.a;san.b;san.keys;san.shown;san.killed"
  PASS_REGULAR_EXPRESSION "shared-db: generation 3, 1 registration\\(s\\).*key 0x6330303030323166 \\[c000021f\\].*note: [^\n]*shared-db.lu.tmp: an update that did not finish"
  FAIL_REGULAR_EXPRESSION "c0000220|afresh")

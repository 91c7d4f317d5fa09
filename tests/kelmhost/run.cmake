# kelm-host run: scripts of commands in one process and one provider session.
# Each test appends kelm-host's exit status ("exit N") to what it printed on
# standard output and error, so that one expression checks both.
set(KELMHOST_RUN_DIR ${CMAKE_CURRENT_BINARY_DIR}/kelmhost-run)

# NAME FILE REGEX [VAR=VALUE...]: "kelm-host run FILE" on the default host.
function(kelmhost_run_file name file regex)
  add_test(NAME kelmhost.run.${name}
           COMMAND sh -c "\"$0\" run \"$1\" 2>&1; echo \"exit $?\"" $<TARGET_FILE:kelm-host> ${file})
  set(env "RENDO_SIM_HOST=" "RENDO_SIM_STATE=${CMAKE_CURRENT_BINARY_DIR}/simstate-run.${name}" ${ARGN})
  set_tests_properties(kelmhost.run.${name} PROPERTIES PASS_REGULAR_EXPRESSION "${regex}" ENVIRONMENT "${env}")
endfunction()

# NAME TEXT REGEX [VAR=VALUE...]: the same with the script TEXT.
function(kelmhost_run_script name text regex)
  file(WRITE ${KELMHOST_RUN_DIR}/${name}.kelm "${text}")
  kelmhost_run_file(${name} ${KELMHOST_RUN_DIR}/${name}.kelm "${regex}" ${ARGN})
endfunction()

# The examples. The default host's job: one provider session for the whole
# script, and the reservation taken on one line is there on the next.
kelmhost_run_file(sessionDefault ${CMAKE_SOURCE_DIR}/examples/session-default.kelm
  "^> info\nrendo_fi_pgn_init\\(native language \\(none\\)\\) = 0.*provider rendo.*> claim [^\n]*PHYSICALDRIVE0\n  rendo_fi_pgn_claim[^\n]*= 2 \\(KEL_CLAIM_SECONDARY\\)\n.*> keys [^\n]*\nregistered keys \\(1\\):\n  \\[c000020a\\]\nreservation: key \\[c000020a\\], type 5 .*> keys [^\n]*\nregistered keys \\(0\\): none\nreservation: none\n> ! release [^\n]*\n.*session-default.kelm:22: command failed with status 1, as it must\nrendo_fi_pgn_fini\\(\\)\nexit 0\n$")
set_tests_properties(kelmhost.run.sessionDefault PROPERTIES FAIL_REGULAR_EXPRESSION "rendo_fi_pgn_init.*rendo_fi_pgn_init")
# The snapshot host, found from the script's directory: import with a
# reservation, deport with release and removal.
kelmhost_run_file(sessionSnapshot ${CMAKE_SOURCE_DIR}/examples/session-snapshot.kelm
  "> import [^\n]*\n.*attempt 2 of 4: found, 15 s waited \\(virtual clock\\)\nimported: [^\n]*PHYSICALDRIVE1\n> keys [^\n]*\nregistered keys \\(1\\):\n  \\[c0000214\\]\nreservation: key \\[c0000214\\], type 5 .*> deport [^\n]*\n.*deportResource: status 0 \\(done\\)\n.*\n1 disk\\(s\\)\nexit 0\n$")

# A host line ends the running session; the next library line starts one on
# the new host and sees its disks.
kelmhost_run_script(sessionPerHost
  "nodes\nhost snap ${CMAKE_SOURCE_DIR}/examples/host-snapshot-import.txt\nnodes --global\n"
  "^> nodes\nrendo_fi_pgn_init[^\n]*\n.*SYMMETRIX.*> host snap [^\n]*\nrendo_fi_pgn_fini\\(\\)\n> nodes --global\nrendo_fi_pgn_init[^\n]*\n  rendo_fi_pgn_enumerate_nodes\\(0x8\\) = 0, 1 node\\(s\\)\n  global device UDID##ACME##STORAGE_ARRAY##[^\n]*B502 [^\n]*\nrendo_fi_pgn_fini\\(\\)\nexit 0\n$")

# Words: quotes (backslashes literal in them), ${NAME} outside and inside
# "..." but not '...', a '#' inside a word, a comment; read from standard input.
kelmhost_run_script(words
  "# a comment\n\n  exec -- printf \"[%s]\" 'a b' \"c\\d \${RUN_TEST_WORD}\" e'f g'h '\${RUN_TEST_WORD}' x#y \${RUN_TEST_WORD}z # a comment\n"
  "^> exec [^\n]*# a comment\n\\[a b\\]\\[c\\\\d one word\\]\\[ef gh\\]\\[\\\$\\{RUN_TEST_WORD\\}\\]\\[x#y\\]\\[one wordz\\]\nstatus 0 [^\n]*\nexit 0\n$"
  "RUN_TEST_WORD=one word")

# Host files: a relative one from the script's directory, with ${NAME}
# expanded in it (here the address, hence the key).
file(WRITE ${KELMHOST_RUN_DIR}/host-vars.txt
  "# \${RUN_TEST_IP} in a comment stays as it is\ncomputer-name varhost\nip-address \${RUN_TEST_IP}\ndisk d\n  vendor ACME\n  product DISK\n  serial VAR0001\n")
kelmhost_run_script(hostVariables "host v host-vars.txt\nreserve \\\\.\\PHYSICALDRIVE0 --register\n"
  "with key \\[c0000228\\], flags 0x4000: 0 \\(done\\)\n.*exit 0\n$" "RUN_TEST_IP=192.0.2.40")

# Mistakes found before anything runs (exit 2), each at its file and line.
kelmhost_run_script(badQuote "info\nclaim \"unterminated\n"
  "^[^>]*badQuote.kelm:2: unterminated double quote\nexit 2\n$")
kelmhost_run_script(unknownCommand "info\n- reserv X\n"
  "^[^>]*unknownCommand.kelm:2: unknown command \"reserv\"\nexit 2\n$")
kelmhost_run_script(unsetVariable "info\nclaim \${RUN_TEST_UNSET}\n"
  "^[^>]*unsetVariable.kelm:2: \\\$\\{RUN_TEST_UNSET\\} is not set\nexit 2\n$")
kelmhost_run_script(unsetInHostFile "host v host-vars.txt\n"
  "^[^>]*host-vars.txt:3: \\\$\\{RUN_TEST_IP\\} is not set\nexit 2\n$")
file(WRITE ${KELMHOST_RUN_DIR}/host-bad.txt "computer-name bad\ndisk d\n  vendr ACME\n")
kelmhost_run_script(badHostFile "info\nhost b host-bad.txt\n"
  "^[^>]*host-bad.txt:3: [^\n]*vendr[^\n]*\nexit 2\n$")
kelmhost_run_script(undefinedHost "host b\n" "^[^>]*undefinedHost.kelm:1: host b is not defined[^\n]*\nexit 2\n$")

# What lines do when they run: "!" that succeeds stops (exit 1), "-" that
# fails goes on, an ordinary line that fails stops (exit 1).
kelmhost_run_script(mustFail "info\n! info\ninfo\n"
  "> ! info\n[^>]*mustFail.kelm:2: command succeeded but must fail\nrendo_fi_pgn_fini\\(\\)\nexit 1\n$")
kelmhost_run_script(mayFail "- claim\ninfo\n"
  "^> - claim\n[^>]*mayFail.kelm:1: command failed with status 2; going on\n> info\n.*exit 0\n$")
# The same script through standard input.
add_test(NAME kelmhost.run.fromStdin
         COMMAND sh -c "\"$0\" run - < \"$1\" 2>&1; echo \"exit $?\"" $<TARGET_FILE:kelm-host> ${KELMHOST_RUN_DIR}/mayFail.kelm)
set_tests_properties(kelmhost.run.fromStdin PROPERTIES ENVIRONMENT "RENDO_SIM_HOST="
  PASS_REGULAR_EXPRESSION "^> - claim\n[^>]*<stdin>:1: command failed with status 2; going on\n> info\n.*exit 0\n$")
kelmhost_run_script(failureStops "info\nclaim\ninfo\n"
  "> claim\n[^>]*failureStops.kelm:2: command failed with status 2\nrendo_fi_pgn_fini\\(\\)\nexit 1\n$")

# Two simulated hosts in one script, one array between them: B meets A's
# reservation (1099) and sees A's key; once A lets go, B takes it.
kelmhost_run_file(twoHosts ${CMAKE_SOURCE_DIR}/examples/two-hosts.kelm
  "> reserve [^\n]*\n[^>]*with key \\[c000021f\\], flags 0x4000: 0 \\(done\\)\n[^>]*> host B [^\n]*\n> ! reserve [^\n]*\n[^>]*with key \\[c0000220\\], flags 0x4000: 1099 [^\n]*\n[^>]*> keys [^\n]*\nregistered keys \\(1\\):\n  \\[c000021f\\]\n[^>]*> host A\n> release [^\n]*\n[^>]*flags 0x14800: 0 \\(done\\)\n[^>]*> host B\n> reserve [^\n]*\n[^>]*with key \\[c0000220\\], flags 0x4000: 0 \\(done\\)\n[^>]*> keys [^\n]*\nregistered keys \\(1\\):\n  \\[c0000220\\]\n.*exit 0\n$")

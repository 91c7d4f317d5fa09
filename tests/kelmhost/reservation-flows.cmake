# This host's reservation key: the lower-case hex of its address's octets in
# order, traced as it is derived (numeric computer names resolve to
# themselves, "localhost" to the loopback address).
foreach(pair "10.0.0.1=0a000001" "192.168.1.254=c0a801fe" "255.255.255.255=ffffffff" "172.16.15.160=ac100fa0"
             "0.0.0.0=00000000" "localhost=7f000001")
  string(REPLACE "=" ";" parts "${pair}")
  list(GET parts 0 name)
  list(GET parts 1 key)
  string(REPLACE "." "\\." address "${name}")
  set(host "${address}")
  if(name STREQUAL "localhost")
    set(address "127\\.0\\.0\\.1")
    set(host "LOCALHOST")
  endif()
  add_test(NAME kelmhost.reserveKeyFrom.${name} COMMAND kelm-host reserve "\\\\.\\PHYSICALDRIVE0" --register)
  set_tests_properties(kelmhost.reserveKeyFrom.${name} PROPERTIES
    PASS_REGULAR_EXPRESSION "\n  Generated Key \\[${key}\\] from IP\\[${address}\\] for host \\[${host}\\]\\.\n.*\ndiskReserve [^\n]* with key \\[${key}\\], flags 0x4000: 0 \\(done\\)\nregistered keys \\(1\\):\n  \\[${key}\\]\n"
    ENVIRONMENT "RENDO_SIM_HOST=;KELM_COMPUTER_NAME=${name}")
endforeach()

# The flows on a drive that does not exist (ERROR_FILE_NOT_FOUND) and on an
# empty path (ERROR_PATH_NOT_FOUND): both are open failures, code 2; only a
# release that neither verifies nor releases succeeds.
foreach(drive "42" "")
  set(case "MissingDrive${drive}")
  if(drive STREQUAL "")
    set(case "EmptyPath")
    set(path "")
    set(pattern "")
    set(error 3)
  else()
    set(path "\\\\.\\PHYSICALDRIVE${drive}")
    set(pattern "\\\\\\\\\\.\\\\PHYSICALDRIVE${drive}")
    set(error 2)
  endif()
  # Every wildcard stays within one line, so a mismatch fails at once.
  set(opening "\n  Error opening ${pattern}\\. Error: ${error}\n[^\n]*\n  Error opening file\n  Failed to read ")
  add_test(NAME kelmhost.reserve${case}.register COMMAND kelm-host reserve "${path}" --key c0a80001 --register)
  add_test(NAME kelmhost.reserve${case}.plain COMMAND kelm-host reserve "${path}" --key c0a80001)
  add_test(NAME kelmhost.reserve${case}.verify COMMAND kelm-host release "${path}" --key c0a80001 --verify)
  add_test(NAME kelmhost.reserve${case}.nothing COMMAND kelm-host release "${path}" --key c0a80001)
  set_tests_properties(kelmhost.reserve${case}.register PROPERTIES PASS_REGULAR_EXPRESSION
    "${opening}registration on disk \\[${pattern}\\] with error \\[2\\]\\.\ndiskReserve [^\n]*flags 0x4000: 1098 ")
  set_tests_properties(kelmhost.reserve${case}.plain PROPERTIES PASS_REGULAR_EXPRESSION
    "${opening}reservation on disk [^\n]*\ndiskReserve [^\n]*flags 0x0: 1098 ")
  set_tests_properties(kelmhost.reserve${case}.verify PROPERTIES PASS_REGULAR_EXPRESSION
    "${opening}reservation on disk [^\n]*\ndiskRelease [^\n]*flags 0x10000: 1096 ")
  set_tests_properties(kelmhost.reserve${case}.nothing PROPERTIES PASS_REGULAR_EXPRESSION "flags 0x0: 0 \\(done\\)")
  set_tests_properties(kelmhost.reserve${case}.register kelmhost.reserve${case}.plain
                       kelmhost.reserve${case}.verify kelmhost.reserve${case}.nothing
                       PROPERTIES ENVIRONMENT "RENDO_SIM_HOST=")
endforeach()

# An empty key travels as the zero key: its REGISTER registers nothing, so
# the RESERVE meets a reservation conflict, as on a real array, and the
# registration is undone; nothing is left on the disk.
add_test(NAME kelmhost.reserveZeroKey COMMAND kelm-host reserve "\\\\.\\PHYSICALDRIVE0" --key "" --register)
set(drive0 "\\[\\\\\\\\\\.\\\\PHYSICALDRIVE0\\]")
set_tests_properties(kelmhost.reserveZeroKey PROPERTIES ENVIRONMENT "RENDO_SIM_HOST=" PASS_REGULAR_EXPRESSION
  "\n  Host registration on device ${drive0} with key \\[\\] completed\\.\n  Read reservation operation was successful\\.\n  ReservationDiskWin::reserveDisk -  reservationType = 5\n  Failed to complete reserve operation\\.\n  PERSISTENT RESERVE OUT \\(RESERVE\\) on ${drive0} was refused: reservation conflict \\(SCSI status RESERVATION CONFLICT\\)\\.\n  Unregistration operation was successful\\.\n  Removed the registration with key \\[\\] on device ${drive0} after the failure\\.\n  Failed to reserve disk ${drive0} with error \\[3\\]\\.\ndiskReserve [^\n]*flags 0x4000: 1098 [^\n]*\nregistered keys \\(0\\): none\nreservation: none\n")

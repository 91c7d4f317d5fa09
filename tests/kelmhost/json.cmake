# kelm-host --json: each command's object parsed back and checked member by
# member (tests/kelmhost/check_json.py; the objects are in docs/kelm-host-json.md),
# and the live wait line on a terminal's standard error.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(NOT Python3_Interpreter_FOUND)
  message(STATUS "python3 not found: kelm-host --json tests skipped (scripts/setup.sh installs it)")
  return()
endif()

set(JSON_SNAPSHOT_HOST "RENDO_SIM_HOST=${CMAKE_SOURCE_DIR}/examples/host-snapshot-import.txt")
set(JSON_SNAPSHOT_UDID "UDID##ACME##STORAGE_ARRAY##00830014010300106001405A1B2C3D4E5F60718293A4B501")
set(JSON_DRIVE0 "\\\\.\\PHYSICALDRIVE0")

# kelmhost_json(NAME ENV CHECKS... -- KELM-HOST ARGS...): the environment is a
# list; every test gets simulated-SAN state of its own.
function(kelmhost_json name env)
  add_test(NAME kelmhost.json.${name}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_json.py ${ARGN})
  set_tests_properties(kelmhost.json.${name} PROPERTIES LABELS "kelmhost"
    ENVIRONMENT "${env};RENDO_SIM_STATE=${CMAKE_CURRENT_BINARY_DIR}/simstate-json-${name}")
endfunction()

kelmhost_json(disks "RENDO_SIM_HOST="
  --expect command=disks --expect ok=true --expect count=24 --expect disks\#24
  --expect disks[*].path~PHYSICALDRIVE[0-9]+$ --expect disks[*].address.target:int
  --expect disks[0].udid~^UDID\#\#HP\#\#MSA\#\# --expect disks[0].rule=HP:MSA --expect disks[0].vendor=HP
  --expect disks[0].revision=J200 --expect disks[0].refused_by\#0 --expect disks[10].rule=default
  --expect disks[12].refused_by[0].rule=HP:MSA
  --expect disks[12].refused_by[0].message_id~^MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA
  -- $<TARGET_FILE:kelm-host> disks --json)
kelmhost_json(nodes "RENDO_SIM_HOST="
  --expect command=nodes --expect status=0 --expect status_name=KEL_OK --expect selection=8
  --expect nodes[*].kind=global_device --expect nodes[*].object_id~^UDID\#\# --expect count:int
  -- $<TARGET_FILE:kelm-host> nodes --global --json)
kelmhost_json(info "RENDO_SIM_HOST="
  --expect ok=true --expect init_status=0 --expect providers\#1 --expect providers[0].name=rendo
  --expect providers[0].version=[7,0,0,0] --expect "providers[0].object_types=[\"device\",\"jbod\"]"
  -- $<TARGET_FILE:kelm-host> info --json)
kelmhost_json(keysFresh "RENDO_SIM_HOST="
  --expect command=keys --expect ok=true --expect read=true --expect registered_keys\#0
  --expect registration_count=0 --expect reservations\#0
  -- $<TARGET_FILE:kelm-host> keys ${JSON_DRIVE0} --json)
kelmhost_json(keysUnreadable "RENDO_SIM_HOST=" --exit 1
  --expect ok=false --expect read=false --expect error~^cannot\ read --expect error_code:int
  -- $<TARGET_FILE:kelm-host> keys "\\\\.\\PHYSICALDRIVE99" --json)
kelmhost_json(reserve "RENDO_SIM_HOST="
  --expect ok=true --expect flags=16384 --expect status=0 --expect status_text=done
  --expect key.hex~^6162636465666768$ --expect key.text=abcdefgh --expect trace[*]:str
  --expect disk.registration_count=1 --expect disk.registered_keys[0].text=abcdefgh
  --expect disk.reservations[0].key.hex~^6162636465666768$ --expect disk.reservations[0].type=5
  -- $<TARGET_FILE:kelm-host> reserve ${JSON_DRIVE0} --key abcdefgh --register --json)
# A key that is not printable text: hex only. No reservation to verify: status 1100.
kelmhost_json(releaseFails "RENDO_SIM_HOST=" --exit 1
  --expect ok=false --expect status=1100 --expect status_name=RENDO_NO_RESERVATION
  --expect key.hex=c3a9000000000000 --expect key.text=null --expect disk.reservations\#0
  -- $<TARGET_FILE:kelm-host> release ${JSON_DRIVE0} --key é --verify --json)
kelmhost_json(import "${JSON_SNAPSHOT_HOST}"
  --expect ok=true --expect status=0 --expect device~PHYSICALDRIVE1$ --expect flags=20480 --expect key=null
  --expect clock=virtual --expect max_wait_s=155 --expect events\#2
  --expect events[0].event=not_found --expect events[0].attempt=1 --expect events[0].waited_s=5
  --expect events[1].event=found --expect events[1].attempt=2 --expect events[1].waited_s=15
  -- $<TARGET_FILE:kelm-host> import ${JSON_SNAPSHOT_UDID} --reserve --json)
kelmhost_json(importGivesUp "${JSON_SNAPSHOT_HOST}" --exit 1
  --expect ok=false --expect status=20 --expect status_name=KEL_ENODEV --expect device=null
  --expect events[0].event=no_rescan
  -- $<TARGET_FILE:kelm-host> import "UDID##ACME##NONE##1" --flags 0x100 --json)
kelmhost_json(deport "${JSON_SNAPSHOT_HOST}"
  --expect ok=true --expect status=0 --expect pre_deport_status=0 --expect pre_deport_noted=true
  --expect events\#0
  -- $<TARGET_FILE:kelm-host> deport "UDID##ACME##STORAGE_ARRAY##00830014010300106001405A1B2C3D4E5F60718293A4B502"
     --remove --json)
kelmhost_json(usageError "RENDO_SIM_HOST=" --exit 2
  --expect command=keys --expect ok=false --expect error~disk\ path
  -- $<TARGET_FILE:kelm-host> keys --json)

# On a real clock (1 s initial delay, 1 s first retry, 3 attempts: at most
# 8 s; the snapshot LUN is found after 2 s), the live line appears only on a
# terminal, and never among the JSON.
set(REAL_CLOCK_DIR ${CMAKE_CURRENT_BINARY_DIR}/kelmhost-realclock)
file(READ ${CMAKE_SOURCE_DIR}/examples/host-snapshot-import.txt JSON_REAL_HOST)
string(REPLACE "virtual-clock on" "" JSON_REAL_HOST "${JSON_REAL_HOST}")
file(WRITE ${REAL_CLOCK_DIR}/host.txt "${JSON_REAL_HOST}")
file(WRITE ${REAL_CLOCK_DIR}/root/ConfigFiles/rendo.conf "[TUNING_PARAMS]
\"IMPORT_INITIAL_DELAY_IN_SEC\"=dword:00000001
\"IMPORT_RETRY_DELAY_IN_SEC\"=dword:00000001
\"IMPORT_RETRY_ATTEMPTS\"=dword:00000003
")
set(REAL_CLOCK_ENV "RENDO_SIM_HOST=${REAL_CLOCK_DIR}/host.txt;KELM_INSTALL_ROOT=${REAL_CLOCK_DIR}/root")
kelmhost_json(importRealClock "${REAL_CLOCK_ENV}" --stderr-lacks waiting
  --expect ok=true --expect clock=real --expect max_wait_s=8 --expect events[1].event=found
  -- $<TARGET_FILE:kelm-host> import ${JSON_SNAPSHOT_UDID} --json)
find_program(SCRIPT_PROGRAM script)
if(SCRIPT_PROGRAM)
  # script(1) gives the command a terminal; what it printed comes back on stdout.
  string(ASCII 27 ESC)
  add_test(NAME kelmhost.importLiveLine
           COMMAND ${SCRIPT_PROGRAM} -qec "$<TARGET_FILE:kelm-host> import ${JSON_SNAPSHOT_UDID}" /dev/null)
  set_tests_properties(kelmhost.importLiveLine PROPERTIES LABELS "kelmhost"
    PASS_REGULAR_EXPRESSION "\r${ESC}\\[K  waiting: [0-9]+ s of up to 8 s, attempt [1-3] of 3\r${ESC}\\[K(.|\n)*imported: "
    ENVIRONMENT "${REAL_CLOCK_ENV};RENDO_SIM_STATE=${CMAKE_CURRENT_BINARY_DIR}/simstate-importLiveLine")
endif()

# Text escaping: the path comes back in the object as given; control bytes,
# quote and backslash escaped, UTF-8 as it is, bytes of broken UTF-8 (a
# surrogate, a cut sequence) as \u00XX. Strict parsing proves the rest.
kelmhost_json(escaping "RENDO_SIM_HOST=" --exit 1 --unescape
  --expect [[path="a\u0001\u001f\u007f\"\\\t\n\u00ff\u00e9\u20ac\u00ed\u00a0\u0080b\u00e2\u0082"]]
  -- $<TARGET_FILE:kelm-host> keys [[a\x01\x1f\x7f"\\\t\n\xff\xc3\xa9\xe2\x82\xac\xed\xa0\x80b\xe2\x82]] --json)

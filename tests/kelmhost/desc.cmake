# kelm-host stops on a bad host description with "kelm-host: FILE:LINE:
# reason" on standard error and exit status 2, before any command acts on
# the host (the library alone would go on with an empty host). Run with -P,
# this file is that check: CMD under RENDO_SIM_HOST=HOST_FILE must print
# exactly EXPECT on standard error, nothing on standard output, and exit 2.
if(CMAKE_SCRIPT_MODE_FILE)
  set(ENV{RENDO_SIM_HOST} "${HOST_FILE}")
  separate_arguments(command UNIX_COMMAND "${CMD}")
  execute_process(COMMAND "${KELM_HOST}" ${command} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status STREQUAL "2" OR NOT err STREQUAL "${EXPECT}\n" OR NOT out STREQUAL "")
    message(FATAL_ERROR "exit status ${status}\nstandard error:\n${err}\nexpected:\n${EXPECT}\nstandard output:\n${out}")
  endif()
  return()
endif()

function(kelm_host_bad_description name cmd host_file expect)
  add_test(NAME kelmhost.${name}
           COMMAND ${CMAKE_COMMAND} -DKELM_HOST=$<TARGET_FILE:kelm-host> "-DCMD=${cmd}" "-DHOST_FILE=${host_file}"
                   "-DEXPECT=kelm-host: ${host_file}${expect}" -P ${CMAKE_CURRENT_LIST_FILE})
  set_tests_properties(kelmhost.${name} PROPERTIES LABELS kelmhost)
endfunction()

# 65,536 paths is the limit, whether they come as disks or as more paths of
# one disk: both files below reach it exactly and go one over.
set(desc_dir ${CMAKE_CURRENT_BINARY_DIR}/desc)
string(REPEAT "disk\n  address 0 0 0 0\n  path 1 0 0 0\n" 32768 many_disks)
file(WRITE ${desc_dir}/too-many-disks.txt "${many_disks}disk\n")
string(REPEAT "  path 0 0 0 0\n" 65537 many_paths)
file(WRITE ${desc_dir}/too-many-paths.txt "disk\n${many_paths}")

kelm_host_bad_description(descBadLine disks ${CMAKE_CURRENT_LIST_DIR}/desc-bad-line.txt
  ":10: an address is PORT BUS TARGET LUN [target-port N] [claim-level N]")
kelm_host_bad_description(descTooManyDisks info ${desc_dir}/too-many-disks.txt ":98305: too many disks (limit 65536)")
kelm_host_bad_description(descTooManyPaths "keys PhysicalDrive0" ${desc_dir}/too-many-paths.txt
  ":65538: too many paths (limit 65536)")
kelm_host_bad_description(descUnreadable disks ${desc_dir}/no-such-host.txt
  ": cannot read host description: No such file or directory")

# help reads no host, so a bad one does not stop it.
add_test(NAME kelmhost.descHelpNeedsNoHost COMMAND kelm-host help)
set_tests_properties(kelmhost.descHelpNeedsNoHost PROPERTIES PASS_REGULAR_EXPRESSION "disks"
  ENVIRONMENT "RENDO_SIM_HOST=${desc_dir}/no-such-host.txt" LABELS kelmhost)

# The installed provider: "cmake --install" into a scratch prefix, the prefix
# moved elsewhere, and the moved kelm-host run with an environment that names
# nothing of the build tree. The same file is the tests' script (cmake -P).
if(CMAKE_SCRIPT_MODE_FILE)
  function(check_output what text)
    foreach(expected IN LISTS ARGN)
      string(FIND "${text}" "${expected}" at)
      if(at EQUAL -1)
        message(FATAL_ERROR "${what}: \"${expected}\" missing in:\n${text}")
      endif()
    endforeach()
  endfunction()
  function(run what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${what}: exit ${rc}\n${out}\n${err}")
    endif()
    set(out "${out}${err}" PARENT_SCOPE)
  endfunction()

  if(STEP STREQUAL "man")
    # Every command, option and variable of the help with its text, as the
    # rendered page shows them (spacing aside): the page cannot drift from --help.
    run("help" ${KELM_HOST} help)
    string(REGEX MATCHALL "\n  [A-Za-z-][^\n]*" items "${out}")
    list(LENGTH items count)
    if(count LESS 15)
      message(FATAL_ERROR "help lists only ${count} items:\n${out}")
    endif()
    find_program(GROFF groff)
    find_program(MAN man)
    if(GROFF)
      run("groff" ${GROFF} -man -ww -z ${PAGE})
      if(NOT out STREQUAL "")
        message(FATAL_ERROR "groff warns about ${PAGE}:\n${out}")
      endif()
    endif()
    if(MAN)
      run("man -l" ${CMAKE_COMMAND} -E env LANG=C LC_ALL=C MANWIDTH=250 ${MAN} -l ${PAGE})
    else()
      file(READ ${PAGE} out)
      string(REPLACE "\\-" "-" out "${out}")
    endif()
    string(REGEX REPLACE "[ \t\n]+" " " page "${out}")
    set(expected)
    foreach(item IN LISTS items)
      string(REGEX REPLACE "[ \t\n]+" " " item "${item}")
      list(APPEND expected "${item}")
    endforeach()
    check_output("manual page" "${page}" "KELM-HOST(1)" ${expected})
    return()
  endif()

  # Outside the build tree, so that no path below can point into it unnoticed.
  execute_process(COMMAND mktemp -d /tmp/rendo-install-XXXXXX OUTPUT_VARIABLE WORK OUTPUT_STRIP_TRAILING_WHITESPACE)
  # A clean environment; only a sanitizer build's options are passed on.
  set(clean_env env -i PATH=/usr/bin:/bin RENDO_SIM_HOST= RENDO_SIM_STATE=${WORK}/simstate)
  foreach(var ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS)
    if(DEFINED ENV{${var}})
      list(APPEND clean_env "${var}=$ENV{${var}}")
    endif()
  endforeach()

  if(STEP STREQUAL "deb")
    # The Debian package holds the installed layout, names its runtime
    # libraries, and its kelm-host runs from wherever it is unpacked.
    run("cpack" ${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK})
    file(GLOB deb ${WORK}/*.deb)
    run("dpkg-deb -I" dpkg-deb -I ${deb})
    check_output("package control" "${out}" "Package: librendo" "Version: 7.0.0" "libicu" "libxerces-c" "libiscsi")
    run("dpkg-deb -c" dpkg-deb -c ${deb})
    check_output("package contents" "${out}" "./usr/bin/kelm-host" "./usr/lib/librendo.so" "./usr/lib/libkelm.so"
      "./usr/${ROOT_DIR}/Messages/librendo/root.res" "./usr/${ROOT_DIR}/ConfigFiles/rendo.conf"
      "./usr/share/man/man1/kelm-host.1")
    run("dpkg-deb -x" dpkg-deb -x ${deb} ${WORK}/unpacked)
    run("kelm-host disks" ${clean_env} ${WORK}/unpacked/usr/${BIN_DIR}/kelm-host disks)
    check_output("packaged kelm-host disks" "${out}" "UDID##EMC##SYMMETRIX##000001879005##02B3")
    file(REMOVE_RECURSE ${WORK})
    return()
  endif()

  set(a ${WORK}/a)
  set(b ${WORK}/b)
  run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${a})
  file(RENAME ${a} ${b})
  set(root ${b}/${ROOT_DIR})
  foreach(f ${BIN_DIR}/kelm-host ${LIB_DIR}/librendo.so ${LIB_DIR}/libkelm.so ${LIB_DIR}/libkelm_testkit.so
            ${ROOT_DIR}/Messages/librendo/root.res ${ROOT_DIR}/Messages/librendo/de.res
            ${ROOT_DIR}/ConfigFiles/rendo.conf ${MAN_DIR}/man1/kelm-host.1)
    if(NOT EXISTS ${b}/${f})
      message(FATAL_ERROR "not installed: ${f}")
    endif()
  endforeach()
  foreach(binary ${b}/${BIN_DIR}/kelm-host ${b}/${LIB_DIR}/librendo.so)
    run("ldd" ldd ${binary})
    if(out MATCHES "not found" OR out MATCHES "${BUILD_DIR}/")
      message(FATAL_ERROR "${binary} does not find its libraries in the installation:\n${out}")
    endif()
    check_output("ldd ${binary}" "${out}" "libkelm.so => ${b}/")
  endforeach()

  set(host ${clean_env} ${b}/${BIN_DIR}/kelm-host)
  run("kelm-host demo" ${host} demo)
  check_output("kelm-host demo" "${out}"
    "library      : ${b}/${LIB_DIR}/librendo.so\ninstall root : ${root}/\n"
    "provider rendo, values 1 1, version 7.0.0.0"
    "errmsg(29) = 0: rendo: Die Initialisierung des Providers"
    "errmsg(29) = 0: rendo: The initialisation of the provider"
    "imported: " "deportResource: status 0 (done)" "${root}/Logs/rendo.log.")
  run("kelm-host disks" ${host} disks)
  check_output("kelm-host disks" "${out}" "PATH " "UDID##EMC##SYMMETRIX##000001879005##02B3")
  # The provider completed the installed settings with the moved root's log folder.
  file(READ ${root}/ConfigFiles/rendo.conf conf)
  check_output("installed rendo.conf" "${conf}" "\"TRACEDIR\"=\"${root}/Logs/\"" "\"IMPORT_RETRY_ATTEMPTS\"=dword:00000004")
  file(REMOVE_RECURSE ${WORK})
  return()
endif()

add_test(NAME kelmhost.install
         COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DBIN_DIR=${CMAKE_INSTALL_BINDIR} -DLIB_DIR=${CMAKE_INSTALL_LIBDIR} -DMAN_DIR=${CMAKE_INSTALL_MANDIR}
                 -DROOT_DIR=${RENDO_INSTALL_ROOT_DIR} -P ${CMAKE_CURRENT_LIST_FILE})
add_test(NAME kelmhost.manPage
         COMMAND ${CMAKE_COMMAND} -DSTEP=man -DKELM_HOST=$<TARGET_FILE:kelm-host>
                 -DPAGE=${CMAKE_BINARY_DIR}/tools/kelm-host/kelm-host.1 -P ${CMAKE_CURRENT_LIST_FILE})
set_tests_properties(kelmhost.install kelmhost.manPage PROPERTIES LABELS kelmhost)
find_program(DPKG_DEB dpkg-deb)
if(DPKG_DEB)
  add_test(NAME kelmhost.debPackage
           COMMAND ${CMAKE_COMMAND} -DSTEP=deb -DCPACK=${CMAKE_CPACK_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DBIN_DIR=${CMAKE_INSTALL_BINDIR}
                   -DROOT_DIR=${RENDO_INSTALL_ROOT_DIR} -P ${CMAKE_CURRENT_LIST_FILE})
  set_tests_properties(kelmhost.debPackage PROPERTIES LABELS kelmhost)
endif()

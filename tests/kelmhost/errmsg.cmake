# kelm-host errmsg: the provider's status texts through rendo_fi_pgn_errmsg,
# in the native language the init record names. Only root stands in for a
# language that is not installed; a parent locale standing in (de for de_AT)
# is refused, so the default text answers; the offset of 6000 folds onto the
# same identifier; bundle texts are read as UTF-8.

# rendo_errmsg_test(NAME CODE LANGUAGE TEXT): TEXT is plain text, matched whole.
function(rendo_errmsg_test name code language text)
  rendo_plain_text_regex(regex "rendo_fi_pgn_errmsg(${code}) = 0: ${text}\n")
  if(language STREQUAL "")
    add_test(NAME kelmhost.errmsg.${name} COMMAND kelm-host errmsg ${code})
  else()
    add_test(NAME kelmhost.errmsg.${name} COMMAND kelm-host errmsg ${code} --lang ${language})
  endif()
  set_tests_properties(kelmhost.errmsg.${name} PROPERTIES PASS_REGULAR_EXPRESSION "${regex}"
                       ENVIRONMENT "RENDO_SIM_HOST=;LC_ALL=C") # ICU falls back through the default locale
endfunction()

set(init_failed_de "rendo: Die Initialisierung des Providers ist fehlgeschlagen. Die Ursache steht in der Trace-Datei.")
rendo_errmsg_test(default 29 "" "rendo: The initialisation of the provider failed. See the trace file for the cause.")
rendo_errmsg_test(native 29 de "${init_failed_de}")
rendo_errmsg_test(offset 6029 de "${init_failed_de}")
rendo_errmsg_test(utf8 4 de "rendo: Dieser Vorgang wird von diesem Provider nicht unterstützt.")
rendo_errmsg_test(root 5 "" "rendo: Memory allocation failed.")
rendo_errmsg_test(german 5 de "rendo: Die Speicherzuweisung ist fehlgeschlagen.")
rendo_errmsg_test(notInstalled 5 fr "rendo: Memory allocation failed.")
rendo_errmsg_test(parentLocale 5 de_AT "rendo: Memory allocation failed.")
rendo_errmsg_test(missingIdentifier 3999 de "rendo: <MSG_ERROR_RENDO_3999>")

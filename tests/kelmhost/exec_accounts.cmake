# kelm-host exec under accounts a host description names ("user" lines): the
# runner logs on as the account (names match in any case), and a wrong
# password or an unknown account is refused before anything is started. A
# malformed "user" line names its line and leaves the host empty.
set(EXEC_ACCOUNTS_HOST ${CMAKE_CURRENT_BINARY_DIR}/exec-accounts-host.txt)
file(WRITE ${EXEC_ACCOUNTS_HOST} "computer-name ACCT\nuser backup s3cret\nuser Operator \"\" SeBatchLogonRight\n")
set(EXEC_ACCOUNTS_BAD_HOST ${CMAKE_CURRENT_BINARY_DIR}/exec-accounts-bad-host.txt)
file(WRITE ${EXEC_ACCOUNTS_BAD_HOST} "user lonely\n")

add_test(NAME kelmhost.execAccount COMMAND kelm-host exec --user BACKUP --password s3cret -- echo hi)
add_test(NAME kelmhost.execAccountEmptyPassword COMMAND kelm-host exec --user operator --password "" -- echo hi)
add_test(NAME kelmhost.execAccountWrongPassword COMMAND kelm-host exec --user backup --password S3CRET -- echo hi)
add_test(NAME kelmhost.execAccountUnknown COMMAND kelm-host exec --user ghost --password x -- echo hi)
add_test(NAME kelmhost.execAccountBadDescription COMMAND kelm-host exec -- echo hi)
set_tests_properties(kelmhost.execAccount PROPERTIES
  PASS_REGULAR_EXPRESSION "^hi\nran under account backup\nstatus 0 \\(KEL_EXEC_PIPE_SUCCESS\\)\n$")
set_tests_properties(kelmhost.execAccountEmptyPassword PROPERTIES
  PASS_REGULAR_EXPRESSION "^hi\nran under account Operator\nstatus 0 ")
set_tests_properties(kelmhost.execAccountWrongPassword PROPERTIES
  PASS_REGULAR_EXPRESSION "^status 3 [^\n]*; last error 10 \\(KEL_EXEC_PIPE_CANNOT_IMPERSONATE\\) for \"backup\"\n$")
set_tests_properties(kelmhost.execAccountUnknown PROPERTIES
  PASS_REGULAR_EXPRESSION "^status 3 [^\n]*; last error 10 \\(KEL_EXEC_PIPE_CANNOT_IMPERSONATE\\) for \"ghost\"\n$")
set_tests_properties(kelmhost.execAccount kelmhost.execAccountEmptyPassword kelmhost.execAccountWrongPassword
                     kelmhost.execAccountUnknown PROPERTIES ENVIRONMENT "RENDO_SIM_HOST=${EXEC_ACCOUNTS_HOST}")
set_tests_properties(kelmhost.execAccountBadDescription PROPERTIES
  PASS_REGULAR_EXPRESSION "^kelm-host: [^\n]*exec-accounts-bad-host.txt:1: user NAME PASSWORD \\[RIGHT\\.\\.\\.\\]\n$"
  ENVIRONMENT "RENDO_SIM_HOST=${EXEC_ACCOUNTS_BAD_HOST}")

# kelm-host explain on the built-in default host (a disk of every identifier family).
add_test(NAME kelmhost.explainMsa COMMAND kelm-host explain "\\\\.\\PHYSICALDRIVE0")
set_tests_properties(kelmhost.explainMsa PROPERTIES PASS_REGULAR_EXPRESSION
  "rule:  HP MSA \\(generator HP:MSA\\)\n.*\n  enclosure  std inquiry +96 +14  text +5035413943324434453646384730 +\"P5A9C2D4E6F8G0\"\n  LUN +VPD 0x83 +36 +32  text .*  HP MSA +named it\n.*designator type: NAA,  code set: Binary\n +0x600508b4000f1a2b0000c00001230000\n +\\(page bytes 8\\.\\.23\\)\n +designator type: T10 vendor identification,  code set: ASCII\n +vendor id: HP")
# The short MSA disk, by its DOS name: its rule refuses it and says what was short.
add_test(NAME kelmhost.explainRefused COMMAND kelm-host explain PhysicalDrive12)
set_tests_properties(kelmhost.explainRefused PROPERTIES PASS_REGULAR_EXPRESSION
  "rule:  default \\(generator :\\)\n.*suffix +VPD 0x83 +0 +24  hex, 0s trimmed .*  HP MSA +refused it: MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA:HP:MSA \\(VPD 0x83 \\(by its length field\\): 24 bytes, the rule reads 68\\)\n  default +named it\n")
# NetApp, by its UDID in any case: the enclosure comes from the vendor command's answer.
add_test(NAME kelmhost.explainNetApp
         COMMAND kelm-host explain "udid##netapp##lun##filer01:/vol/vol1/lun0a##50334f6f473457564c716442")
set_tests_properties(kelmhost.explainNetApp PROPERTIES PASS_REGULAR_EXPRESSION
  "disk:  [^\n]*PHYSICALDRIVE9 .*enclosure  vendor command +36 +23  text .*\"filer01:/vol/vol1/lun0a\"\n  LUN +VPD 0x83 +21 +12  hex +50334f6f473457564c716442 .*vendor id: NETAPP")
add_test(NAME kelmhost.explainUnknown
         COMMAND sh -c "\"$0\" explain PhysicalDrive99 2>&1; echo \"exit $?\"" $<TARGET_FILE:kelm-host>)
set_tests_properties(kelmhost.explainUnknown PROPERTIES PASS_REGULAR_EXPRESSION
  "^kelm-host explain: no disk \"PhysicalDrive99\" on this host[^\n]*\nexit 1\n$")
set_tests_properties(kelmhost.explainMsa kelmhost.explainRefused kelmhost.explainNetApp kelmhost.explainUnknown
  PROPERTIES ENVIRONMENT "RENDO_SIM_HOST=" LABELS "kelmhost")

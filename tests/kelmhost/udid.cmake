# The UDID of every disk of the built-in default host, one of each array
# family and of each family too short for its own rule (named by the next
# generator that takes it, the refusal listed under it), written out by hand
# from the disks' bytes: the generators and the factory's fall-through.
add_test(NAME kelmhost.disksUdids COMMAND kelm-host disks)
string(CONCAT DEFAULT_HOST_UDIDS "^PATH +VENDOR +PRODUCT +GENERATOR +UDID\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE0 +HP +MSA2012fc +HP:MSA +UDID##HP##MSA##P5A9C2D4E6F8G0##600508B4000F1A2B0000C00001230000\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE1 +HP +HSV210 +HP:HSV +UDID##HP##HSV##5000-1FE1-500A-2B30##6005-08B4-0010-19A2-0000-9000-0123-0000\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE2 +IBM +2107900 +IBM:TOTALSTORAGE +UDID##IBM##TOTALSTORAGE##IBM\\.2107-75ABCD1##1234\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE3 +IBM +1724-100 FAStT +IBM:DISKSYSTEM +UDID##IBM##DISKSYSTEM##IBM\\.1724-SV12345678##60:0A:0B:80:00:29:04:DE:00:00:05:A1:46:9C:E3:A1\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE4 +IBM +1814 FAStT +IBM:DISKSYSTEM +UDID##IBM##DISKSYSTEM##IBM\\.1814-600A0B80002904DE00000000469CE3A2##60:0A:0B:80:00:29:04:DE:00:00:05:A2:46:9C:E3:A2\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE5 +DGC +RAID 5 +DGC: +UDID##DGC##CLARIION##APM00123456789##60:06:01:60:12:34:56:78:00:AB:CD:EF:01:23:45:67\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE6 +EMC +SYMMETRIX +EMC:SYMMETRIX +UDID##EMC##SYMMETRIX##000001879005##01A2\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE7 +HITACHI +OPEN-V +HITACHI:HDS +UDID##HITACHI##HDS##74565##2591\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE8 +LSI +INF-01-00 +ENGENIO:UNIVERSAL +UDID##ENGENIO##UNIVERSAL##600A0B80001F2E3D000000004A5B6C7D##600A0B800011223300004A5B6C7D0001\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE9 +NETAPP +LUN +NETAPP:LUN +UDID##NETAPP##LUN##FILER01:/VOL/VOL1/LUN0A##50334F6F473457564C716442\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE10 +ACME +STORAGE ARRAY +: \\(default\\) +UDID##ACME##STORAGE_ARRAY##00830014010300106001405A1B2C3D4E5F60718293A4B5C6\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE11 +ABC +X 100 +: \\(default\\) +UDID##ABC##X_100##\\\\\\\\\\.\\\\PHYSICALDRIVE11@RENDOSIM\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE12 +HP +MSA2012fc +: \\(default\\) +UDID##HP##MSA2012FC##0083001401030010600508B4000F1A2B0000C000012300FF\n"
  " +refused by HP:MSA: MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA:HP:MSA\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE13 +HP +HSV210 +HP:HSV +UDID##HP##HSV##0000-0000-0000-0000##6005-08B4-0010-19A2-0000-9000-0123-00EE\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE14 +IBM +2107900 +: \\(default\\) +UDID##IBM##2107900##00830014010300106005076305FFC1A200000000000012FF\n"
  " +refused by IBM:TOTALSTORAGE: MSG_UDID_ERROR_INVALID_SCSI_PAGE_SIZE::\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE15 +IBM +1724-100 FAStT +IBM:DISKSYSTEM +UDID##IBM##DISKSYSTEM##IBM\\.1724-##60:0A:0B:80:00:29:04:DE:00:00:05:A1:46:9C:E3:FF\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE16 +DGC +RAID 5 +: \\(default\\) +UDID##DGC##RAID_5##0083001401030010600601601234567800ABCDEF012345FF\n"
  " +refused by DGC:: MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA:DGC:\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE17 +EMC +SYMMETRIX +: \\(default\\) +UDID##EMC##SYMMETRIX##008300140103001060000970000192601234533030334341\n"
  " +refused by EMC:SYMMETRIX: MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA:EMC:SYMMETRIX\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE18 +HITACHI +OPEN-V +: \\(default\\) +UDID##HITACHI##OPEN-V##008300140103001060060E80123450000001234500000B2F\n"
  " +refused by HITACHI:HDS: MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA:HITACHI:HDS\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE19 +LSI +INF-01-00 +: \\(default\\) +UDID##LSI##INF-01-00##0083001401030010600A0B800011223300004A5B6C7D0002\n"
  " +refused by ENGENIO:UNIVERSAL: MSG_UDID_ERROR_INVALID_SCSI_ENCLOSURE_DATA::\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE20 +NETAPP +LUN +: \\(default\\) +UDID##NETAPP##LUN##0083001D020100194E45544150502020204C554E2050334F6F473457564C716458\n"
  " +refused by NETAPP:LUN: MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA:NETAPP:LUN\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE21 +ACME +VIRTUAL DISK +: \\(default\\) +UDID##ACME##VIRTUAL_DISK##00830014010300106001405A1B2C3D4E5F60718293A4B5FF\n"
  " +refused by DGC:: MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA:DGC:\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE22 +EMC +SYMMETRIX +EMC:SYMMETRIX +UDID##EMC##SYMMETRIX##000001879005##02B3\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE23 +EMC +SYMMETRIX +EMC:SYMMETRIX +UDID##EMC##SYMMETRIX##000001879005##02B3\n"
  "24 disk\\(s\\)\n$"
)
set_tests_properties(kelmhost.disksUdids PROPERTIES PASS_REGULAR_EXPRESSION "${DEFAULT_HOST_UDIDS}"
                     ENVIRONMENT "RENDO_SIM_HOST=")


# The claim rules in the factory's order (the generator that claims each
# disk first names it, or refuses it first and the default rule names it),
# then rule variants: Symmetrix
# with four characters and without, Hitachi serials, the 1814 without page
# 0xD0, the 1750, and the default rule's serial page, 80-digit cut and
# path@host when page 0x83 is all zeros or neither page is there. Every
# wildcard starts after a literal, so a mismatch fails at once instead of
# backtracking through the blanks.
add_test(NAME kelmhost.disksUdidRules COMMAND kelm-host disks)
string(CONCAT UDID_RULES "^PATH +VENDOR +PRODUCT +GENERATOR +UDID\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE0 +HP +MSA2012fc +: \\(default\\) +UDID##[^\n]*\n +refused by HP:MSA: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE1 +COMPAQ +MSA1000 +: \\(default\\) +UDID##[^\n]*\n +refused by HP:MSA: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE2 +HPQ +XMSA +: \\(default\\) +UDID##[^\n]*\n +refused by HP:MSA: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE3 +HP +HSV210 +: \\(default\\) +UDID##[^\n]*\n +refused by HP:HSV: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE4 +COMPAQ +HSV110 +: \\(default\\) +UDID##[^\n]*\n +refused by HP:HSV: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE5 +HPE +HSV210 +: \\(default\\) +UDID##[^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE6 +HP +XHSV +: \\(default\\) +UDID##[^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE7 +IBM +2107900 +: \\(default\\) +UDID##[^\n]*\n +refused by IBM:TOTALSTORAGE: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE8 +IBMX +2145 +: \\(default\\) +UDID##[^\n]*\n +refused by IBM:TOTALSTORAGE: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE9 +IBM +3542 FAStT +: \\(default\\) +UDID##[^\n]*\n +refused by IBM:TOTALSTORAGE: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE10 +IBM +1814 FAStT +: \\(default\\) +UDID##[^\n]*\n +refused by IBM:DISKSYSTEM: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE11 +IBM +1724-100 +: \\(default\\) +UDID##[^\n]*\n +refused by IBM:DISKSYSTEM: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE12 +XIBM +2107 +: \\(default\\) +UDID##[^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE13 +DGC +RAID 5 +: \\(default\\) +UDID##[^\n]*\n +refused by DGC:: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE14 +DGC +VRAID +: \\(default\\) +UDID##[^\n]*\n +refused by DGC:: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE15 +DGC +LUNZ +: \\(default\\) +UDID##[^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE16 +ACME +DISK +: \\(default\\) +UDID##[^\n]*\n +refused by DGC:: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE17 +EMC +SYMMETRIX +: \\(default\\) +UDID##[^\n]*\n +refused by EMC:SYMMETRIX: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE18 +EMC +SYMMETRIX2 +: \\(default\\) +UDID##[^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE19 +HITACHI +OPEN-V +HITACHI:HDS +UDID##[^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE20 +HITACHI +DF600F-V +HITACHI:HDS +UDID##[^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE21 +HITACHI +USP V +HITACHI:HDS +UDID##[^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE22 +HITACHI +XOPEN-V +: \\(default\\) +UDID##[^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE23 +LSI +INF-01-00 +: \\(default\\) +UDID##[^\n]*\n +refused by ENGENIO:UNIVERSAL: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE24 +lsi +mpp_virtual_disk +: \\(default\\) +UDID##[^\n]*\n +refused by ENGENIO:UNIVERSAL: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE25 +LSI +MPP_VIRTUAL_DISK +: \\(default\\) +UDID##[^\n]*\n +refused by DGC:: [^\n]*\n +refused by [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE26 +NETAPP +LUN +: \\(default\\) +UDID##[^\n]*\n +refused by NETAPP:LUN: [^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE27 +NETAPP +LUN C-Mode +: \\(default\\) +UDID##[^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE28 +ABC +X 100 +: \\(default\\) +UDID##[^\n]*\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE29 +EMC +SYMMETRIX +EMC:SYMMETRIX +UDID##EMC##SYMMETRIX##000001879005##31A2\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE30 +EMC +SYMMETRIX +EMC:SYMMETRIX +UDID##EMC##SYMMETRIX##000001879005##01A2\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE31 +HITACHI +OPEN-V +HITACHI:HDS +UDID##HITACHI##HDS##43981##16\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE32 +HITACHI +OPEN-V +HITACHI:HDS +UDID##HITACHI##HDS##71234567##15\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE33 +HITACHI +OPEN-V +HITACHI:HDS +UDID##HITACHI##HDS##65535##0\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE34 +IBM +1814 FAStT +IBM:DISKSYSTEM +UDID##IBM##DISKSYSTEM##IBM\\.1814-##60:0A:0B:80:00:29:04:DE:00:00:05:A2:46:9C:E3:A2\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE35 +IBM +1750500 +IBM:TOTALSTORAGE +UDID##IBM##TOTALSTORAGE##IBM\\.1750-13AB123##4321\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE36 +ACME +STORAGE ARRAY +: \\(default\\) +UDID##ACME##STORAGE_ARRAY##008000044142\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE37 +ACME +STORAGE ARRAY +: \\(default\\) +UDID##ACME##STORAGE_ARRAY##0083002C00000000000000000000000000000000000000000000000000000000000000001122\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE38 +ABC +X 100 +: \\(default\\) +UDID##ABC##X_100##\\\\\\\\\\.\\\\PHYSICALDRIVE38@HOSTA\n"
  "\\\\\\\\\\.\\\\PHYSICALDRIVE39 +ABC +X 100 +: \\(default\\) +UDID##ABC##X_100##\\\\\\\\\\.\\\\PHYSICALDRIVE39@HOSTA\n"
  "40 disk\\(s\\)\n$"
)
set_tests_properties(kelmhost.disksUdidRules PROPERTIES PASS_REGULAR_EXPRESSION "${UDID_RULES}"
                     ENVIRONMENT "RENDO_SIM_HOST=${CMAKE_CURRENT_LIST_DIR}/udid-rules-host.txt")

# Snapshot target selection through kelm-host config: the values are set
# through the provider's config entry point, read back, and the kit selects
# the target, printing the trace lines and the target or the exact reason.

# rendo_target_selection(NAME NODE VALUE EXPECTED): VALUE is the XML text of
# "snapshot_resource_spec"; EXPECTED is plain text the output must contain.
function(rendo_target_selection name node value expected)
  set(file ${CMAKE_CURRENT_BINARY_DIR}/target-selection-${name}.xml)
  file(WRITE ${file} "<ConfigValueList><ConfigValue><key>snapshot_resource_spec</key><value>${value}</value>"
                     "</ConfigValue></ConfigValueList>\n")
  rendo_plain_text_regex(regex "${expected}")
  add_test(NAME kelmhost.targetSelection.${name} COMMAND kelm-host config "${node}" --set ${file})
  set_tests_properties(kelmhost.targetSelection.${name} PROPERTIES PASS_REGULAR_EXPRESSION "${regex}"
                       ENVIRONMENT "RENDO_SIM_HOST=")
endfunction()

set(node "UDID##EMC##SYMMETRIX##e1##l1")
set(n "[UDID##EMC##SYMMETRIX##e1##l1]")
# The first target of the matching source entry; the enclosure carries over.
rendo_target_selection(first "${node}" "[E1##L1;L7;L9]"
  "  trace: Target Udid [UDID##EMC##SYMMETRIX##e1##L7]\ntarget UDID: UDID##EMC##SYMMETRIX##e1##L7\n")
rendo_target_selection(firstEnclosure "${node}" "[E1##L1;L7;L9]" "  trace: RESINFO: [E1][L7]\n")
# An escaped ampersand is decoded before splitting: the second one matches.
rendo_target_selection(ampersand "${node}" "E9##L1;T1&amp;amp;E1##L1;T2" "target UDID: UDID##EMC##SYMMETRIX##e1##T2\n")
# The LUN is everything after the enclosure, further "##" included.
rendo_target_selection(lunWithSeparators "pre-UDID##V##P##E##L##x" "E##L##x;T" "target UDID: pre-UDID##V##P##E##T\n")

# Every failure: status 6 and its line.
rendo_target_selection(empty "${node}" "" "no target (status 6): Configuration \"\" has no resources specified for source ${n}.\n")
rendo_target_selection(onlySeparators "${node}" "&amp;amp;&amp;amp;"
  "no target (status 6): Configuration \"&amp;&amp;\" has no resources specified for source ${n}.\n")
rendo_target_selection(noTargets "${node}" "[;;;]" "no target (status 6): Source configuration \";;;\" has not targets specified for ${n}.\n")
rendo_target_selection(noEnclosure "${node}" "[L1;T1]"
  "no target (status 6): Source configuration \"L1\" has no enclosure data specified for ${n}.\n")
rendo_target_selection(emptyEnclosure "${node}" "[##L1;T1]"
  "no target (status 6): Source configuration \"##L1\" has no enclosure data specified for ${n}.\n")
rendo_target_selection(noDevice "${node}" "[E1##;T1]"
  "no target (status 6): Source configuration \"E1##\" has no device data specified for ${n}.\n")
rendo_target_selection(targetWithoutDevice "${node}" "[E1##L1;E2##]"
  "no target (status 6): Source configuration \"E2##\" has no device data specified for ${n}.\n")
rendo_target_selection(sourceOnly "${node}" "[E1##L1]"
  "no target (status 6): Source configuration found, but no targets are specified for ${n}.\n")
rendo_target_selection(emptyTargets "${node}" "[E1##L1;;]"
  "no target (status 6): Source configuration found, but no targets are specified for ${n}.\n")
rendo_target_selection(noMatch "${node}" "[E2##L1;T][E1##L2;T]" "no target (status 6): No matching source specification found for ${n}.\n")
rendo_target_selection(longerLun "${node}" "E1##L1X;T" "no target (status 6): No matching source specification found for ${n}.\n")
# A failing source entry after a non-matching one stops the search.
rendo_target_selection(failureStops "${node}" "[E9##L9;T][L1;T]"
  "no target (status 6): Source configuration \"L1\" has no enclosure data specified for ${n}.\n")
# Node names that are not complete UDIDs: a status, not an exception. The
# default generator's four-field UDIDs have no enclosure to match.
rendo_target_selection(notAUdid "PhysicalDrive3" "E1##L1;T"
  "no target (status 6): Error: Node name [PhysicalDrive3] is not a valid UDID (code 2), no target can be selected.\n")
rendo_target_selection(shortUdid "UDID##V" "E1##L1;T" "no target (status 6): ")
rendo_target_selection(fourFieldsNoEnclosure "UDID##V##P##L1" "##L1;T" "no target (status 6): ")
rendo_target_selection(fourFields "UDID##V##P##L1" "E##L1;T"
  "no target (status 6): No matching source specification found for [UDID##V##P##L1].\n")

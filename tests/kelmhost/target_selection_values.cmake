# Snapshot target selection on value lists that hold no usable
# "snapshot_resource_spec" (kelm-host config, as in target_selection.cmake):
# another key only, and the key with a value list but no single value, which
# the selection reads as empty.

# rendo_target_selection_values(NAME VALUES EXPECTED...): VALUES is the XML text
# inside the ConfigValue element; the EXPECTED plain texts must appear in order.
function(rendo_target_selection_values name values)
  set(file ${CMAKE_CURRENT_BINARY_DIR}/target-selection-${name}.xml)
  file(WRITE ${file} "<ConfigValueList><ConfigValue>${values}</ConfigValue></ConfigValueList>\n")
  set(regex "")
  foreach(part IN LISTS ARGN)
    rendo_plain_text_regex(part_regex "${part}")
    if(regex STREQUAL "")
      set(regex "${part_regex}")
    else()
      set(regex "${regex}.*${part_regex}")
    endif()
  endforeach()
  add_test(NAME kelmhost.targetSelection.${name}
           COMMAND kelm-host config "UDID##EMC##SYMMETRIX##e1##l1" --set ${file})
  set_tests_properties(kelmhost.targetSelection.${name} PROPERTIES PASS_REGULAR_EXPRESSION "${regex}"
                       ENVIRONMENT "RENDO_SIM_HOST=")
endfunction()

set(n "[UDID##EMC##SYMMETRIX##e1##l1]")
rendo_target_selection_values(otherKeyOnly "<key>other</key><value>x</value>"
  "no target (status 6): Configuration data parameter \"snapshot_resource_spec\" unspecified for object ${n}.\n")
rendo_target_selection_values(valueListOnly
  "<key>snapshot_resource_spec</key><valueList><value>E1##L1;T</value></valueList>"
  "values:\n" "<valueList>\n  \t<value>E1##L1;T</value>\n"
  "no target (status 6): Configuration \"\" has no resources specified for source ${n}.\n")

# Helpers of the kelm-host tests; the files of this folder are included in
# name order, so this one comes first.

# rendo_plain_text_regex(OUT TEXT): a regular expression matching TEXT as it stands.
function(rendo_plain_text_regex out text)
  foreach(special "\\" "[" "]" "(" ")" "." "*" "+" "?" "^" "$" "|")
    string(REPLACE "${special}" "\\${special}" text "${text}")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

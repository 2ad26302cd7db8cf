# Runs the instrumented tnscriptapp over the training pages (cmake -P).
# In: PROGRAM, DATA (the count files' folder), WORK (a scratch folder), STAMP,
# PAGES (a list). Each page runs once, and so does a generated page of many
# small blocks; a generated program of a few hundred functions is compiled a
# few times and its compiled file run, so that the compiler and the loader
# see the work of a large script too.

# Counts of an earlier instrumented build would not match this one's code.
file(REMOVE_RECURSE ${DATA} ${WORK})
file(MAKE_DIRECTORY ${DATA} ${WORK})

function(run_program)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${PROGRAM} ${ARGN} WORKING_DIRECTORY ${WORK}
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    # A failed page only makes the profile poorer: the build goes on.
    if(NOT status EQUAL 0 OR output MATCHES "Runtime Error|Compilation error")
        message(WARNING "training run '${ARGN}' failed (${status}):\n${output}${errors}")
    endif()
endfunction()

set(program "<?tnl\n// generated: a large program for the compiler\n$total = 0;\n")
foreach(k RANGE 1 300)
    string(APPEND program
        "function g${k}($a, $b) {\n"
        "  // function ${k}\n"
        "  $s = ${k};\n  $t = \"g${k}\";\n"
        "  for ($i = 1 to 3) {\n"
        "    $s = ($s * 7 + $i - $a) % 10007;\n"
        "    if ($s > 500) { $s = $s - 3; } else if ($s < 10) { $s += 2; } else { $s--; }\n"
        "  }\n"
        "  while ($s > 100 && $b > 0) { $s = $s / 2; $b--; if ($s == 7) break; }\n"
        "  $m = $a % 4;\n  switch ($m) {\n    case 0: $t .= \"-zero\"; break;\n    case 1: $t = $t . \"-\" . $s; break;\n"
        "    case 2: $s = $s + strlen($t);\n    default: $s++;\n  }\n"
        "  $list[0] = $t . \"|\" . $s;\n  $list[1] = strtoupper($t);\n"
        "  $s = $s + count($list) + strlen(join(\",\", $list)) + ($a > $b ? 1 : 0) + strstr($list[1], \"G\");\n"
        "  return $s;\n}\n"
        "$total = ($total + g${k}(${k}, 3)) % 1000003;\n")
endforeach()
string(APPEND program "echo(\"total \" . $total . \"\\n\");\n?>\n")
file(WRITE ${WORK}/program.htm "${program}")

# A page of many small blocks: text between them, dates, escapes.
set(page "<?tnl\n$user = \"o'neil & sons\"; $n = 0; $total = 0; $start = dateaddhours(datefromnum(2024, 2, 20), 8); ?>")
string(APPEND page "<html>\n<head><title>report</title></head>\n<body>\n<table>\n")
foreach(row RANGE 1 80)
    string(APPEND page
        "<tr class=\"<?tnl $n++; if ($n % 2) echo(\"odd\"); else echo(\"even\"); ?>\">"
        "<td><?tnl echo(escapetohtml($user . \" <\" . $n . \">\")); ?></td>"
        "<td><?tnl $d = dateadddays($start, $n); echo(datetostr($d)); $total = $total + dateday($d); ?></td>"
        "<td><?tnl print(urlencode(\"q=\" . $n . \"&u=\" . $user), \" \", $n * 13 % 7); ?></td></tr>\n")
endforeach()
string(APPEND page "</table>\n<p><?tnl echo(\"total \" . $total); ?></p>\n</body>\n</html>\n")
file(WRITE ${WORK}/page.htm "${page}")
run_program(page.htm)

foreach(page IN LISTS PAGES)
    get_filename_component(name ${page} NAME)
    file(COPY_FILE ${page} ${WORK}/${name})
    run_program(${name})
endforeach()
foreach(round RANGE 1 5)
    run_program(-c program.htm)
endforeach()
run_program(program.ctn)
file(TOUCH ${STAMP})

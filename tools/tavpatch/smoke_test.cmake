# Runs the built tavpatch program as a user would: help, a usage error, then
# make, show and check on files made here. Called by ctest as
#   cmake -DTOOL=<program> [-DEMULATOR=<runner>] -DWORK=<folder> -P this file
# The program runs in WORK and is given relative paths only, so that the
# Windows build under Wine takes them as they are.
cmake_minimum_required(VERSION 3.21)

# Runs the tool with the arguments; fails unless it exits with `expected`.
# Sets `out` to its standard output with line ends made "\n".
function(run expected)
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGN}
    WORKING_DIRECTORY ${WORK}
    RESULT_VARIABLE code OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT code STREQUAL expected)
    message(FATAL_ERROR "tavpatch ${ARGN}: exit ${code}, expected ${expected}\n"
                        "${output}${errors}")
  endif()
  string(REPLACE "\r\n" "\n" output "${output}")
  set(out "${output}" PARENT_SCOPE)
endfunction()

function(expect_line line)
  string(FIND "${out}" "${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing line '${line}' in:\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/inst/data)
file(WRITE ${WORK}/list.txt "# two records\n1 2 0x0A0B0C0D\n-1 3 7\n")

run(0 --help)
expect_line("exit codes: 0 ok, 1 problem found, 2 usage error")
run(2 show)
run(2 frobnicate)

run(0 make list.txt -o info.tmp)
expect_line("wrote info.tmp")
run(1 make list.txt -o info.tmp)

run(0 show info.tmp)
expect_line("records 2")
expect_line("record 1 section -1 entry 3 value 0x00000007 check")

# No dictionary in the folder: the updater would end its run with a failure.
run(1 check info.tmp inst)
expect_line("updater-result 5")
expect_line("problems 1")

# A "dictionary" too short for the first lookup: the updater would stop at
# once; the dry run says so and leaves the file as it was.
file(COPY_FILE ${WORK}/info.tmp ${WORK}/inst/data/engtoGer.dic)
file(SHA256 ${WORK}/inst/data/engtoGer.dic before)
run(1 check info.tmp inst)
expect_line("records 2")
string(REGEX MATCH "Ger stopped record 0 out-of-bounds section-element position 104 bound 0..42 length 46 [^\n]*engtoGer.dic\n" stop "${out}")
if(stop STREQUAL "")
  message(FATAL_ERROR "no stop for Ger in:\n${out}")
endif()
expect_line("updater-result 0")
expect_line("problems 1")
file(SHA256 ${WORK}/inst/data/engtoGer.dic after)
if(NOT before STREQUAL after)
  message(FATAL_ERROR "check changed the dictionary file")
endif()
file(REMOVE_RECURSE ${WORK})

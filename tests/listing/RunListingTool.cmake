# Runs listing-tool on the golden listing: convert, then re-index the result;
# both must print the expected maps. Then the inputs it must refuse, unchanged.
# Variables: TOOL, EMULATOR (may be empty), DATA, WORK.
file(MAKE_DIRECTORY ${WORK})

function(run_tool expected_rc out_var)
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGN}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "listing-tool ${ARGN}: exit ${rc}, expected ${expected_rc}\n${err}")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

function(expect_same_file a b what)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${a} ${b} RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${what}: ${a} differs from ${b}")
  endif()
endfunction()

file(READ ${DATA}/sample.expected expected)
configure_file(${DATA}/sample.lst ${WORK}/sample.lst COPYONLY)

run_tool(0 converted convert ${WORK}/sample.lst)
if(NOT converted STREQUAL expected)
  file(WRITE ${WORK}/convert.out "${converted}")
  message(FATAL_ERROR "convert: maps differ from ${DATA}/sample.expected (got ${WORK}/convert.out)")
endif()
configure_file(${WORK}/sample.lst ${WORK}/converted.dsm COPYONLY)

run_tool(0 indexed index ${WORK}/sample.lst)
if(NOT indexed STREQUAL expected)
  file(WRITE ${WORK}/index.out "${indexed}")
  message(FATAL_ERROR "index: maps differ from ${DATA}/sample.expected (got ${WORK}/index.out)")
endif()
expect_same_file(${WORK}/sample.lst ${WORK}/converted.dsm "re-index of a fresh conversion")

# Converted twice, or raw text walked as records: refused, the file untouched.
run_tool(1 ignored convert ${WORK}/sample.lst)
expect_same_file(${WORK}/sample.lst ${WORK}/converted.dsm "second convert")
run_tool(1 ignored index ${DATA}/sample.lst)

# Shorter than 500 bytes: refused, untouched; 500 bytes are a listing.
string(REPEAT "text line\r\n" 45 lines)
file(WRITE ${WORK}/short.lst "${lines}tail")
configure_file(${WORK}/short.lst ${WORK}/short.orig COPYONLY)
file(SIZE ${WORK}/short.lst size)
if(NOT size EQUAL 499)
  message(FATAL_ERROR "short.lst has ${size} bytes")
endif()
run_tool(1 ignored convert ${WORK}/short.lst)
expect_same_file(${WORK}/short.lst ${WORK}/short.orig "too short a listing")
file(APPEND ${WORK}/short.lst "!")
run_tool(0 ignored convert ${WORK}/short.lst)

run_tool(1 ignored convert ${WORK}/missing.lst)
run_tool(2 ignored)
run_tool(2 ignored dump ${WORK}/sample.lst)

# Writes a program's manual page from the program itself, so that it always describes the
# options the program has:
#   cmake -DPROGRAM=<zembra> -DOUTPUT=<zembra.1> [-DAPPEND=<troff file>] -P WriteManPage.cmake
# The program's --man output comes first; APPEND adds sections that have no place in --help
# (files, the service, see also).
execute_process(COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 ${PROGRAM} --man
                OUTPUT_VARIABLE page RESULT_VARIABLE rc ERROR_VARIABLE errors)
if(NOT rc EQUAL 0 OR page STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --man failed (${rc}): ${errors}")
endif()
if(APPEND)
  file(READ ${APPEND} extra)
  string(APPEND page "${extra}")
endif()
get_filename_component(dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
file(WRITE ${OUTPUT}.tmp "${page}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})

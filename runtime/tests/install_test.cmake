# Installs the build tree into a fresh prefix, builds the outside consumer project against
# it with find_package(Zembra) and runs it with no ZEMBRA_* variable in the environment.
#   -DBUILD_DIR -DWORK_DIR -DCONSUMER_DIR -DGENERATOR -DCXX_COMPILER -DEXPECT_ENGINE
#   -DSANITIZE
foreach(var BUILD_DIR WORK_DIR CONSUMER_DIR GENERATOR CXX_COMPILER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is required")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
set(clean_env ${CMAKE_COMMAND} -E env --unset=ZEMBRA_REGISTRY --unset=ZEMBRA_ZIPCODES_DB
              --unset=ZEMBRA_SQL_TRACE)
run(${clean_env} ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(file include/zembra/runtime.hpp include/zembra/component.hpp bin/zembra-regsvr
             lib/cmake/Zembra/ZembraConfig.cmake lib/cmake/Zembra/ZembraConfigVersion.cmake
             lib/cmake/Zembra/ZembraTargets.cmake lib/cmake/Zembra/ZembraComponent.cmake)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

set(flags "")
if(SANITIZE)
  set(flags -DCMAKE_CXX_FLAGS=-fsanitize=address,undefined
            -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined)
endif()
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
    -DEXPECT_ENGINE=${EXPECT_ENGINE} ${flags})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${clean_env} ${WORK_DIR}/consumer/consumer)
message(STATUS "consumer said:\n${output}")

file(REAL_PATH ${prefix}/share/zembra/registry expected)
if(NOT output MATCHES "registry=([^\n]*)\n")
  message(FATAL_ERROR "no registry line")
endif()
file(REAL_PATH "${CMAKE_MATCH_1}" actual)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "installed runtime uses registry ${actual}, expected ${expected}")
endif()
if(NOT output MATCHES "unknown=429")
  message(FATAL_ERROR "an unknown identifier did not raise 429")
endif()
if(EXPECT_ENGINE AND NOT output MATCHES "MinLat=24\n")
  message(FATAL_ERROR "the installed engine did not answer MinLat=24")
endif()
file(REMOVE_RECURSE ${WORK_DIR})

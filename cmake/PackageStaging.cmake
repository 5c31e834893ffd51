# Run by CPack on the staged tree before it is packed: manual pages compressed, as Debian
# lays them out (man reads either).
if(NOT CPACK_TEMPORARY_INSTALL_DIRECTORY)
  message(FATAL_ERROR "PackageStaging.cmake runs inside CPack only")
endif()
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/*.[1-9]")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${page}")
  endif()
endforeach()

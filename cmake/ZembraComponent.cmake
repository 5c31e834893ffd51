# Building component libraries: a component exports exactly the four entry points and is
# registered, after each build, in the build tree and, at install time, in the installed
# tree, so that createObject() finds it in either without any environment variable.
#
#   zembra_add_component(<target> PROGID <id> [NO_INSTALL])
#   zembra_add_export_test(<target>)   # CTest: the library exports exactly the entry points
#
# Run as a script (cmake -DZEMBRA_CHECK_EXPORTS=<library> [-DZEMBRA_NM=<nm>] -P this file)
# it performs the export check itself.

set(ZEMBRA_COMPONENT_ENTRY_POINTS
    DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer)

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED ZEMBRA_CHECK_EXPORTS)
  if(NOT ZEMBRA_NM)
    set(ZEMBRA_NM nm)
  endif()
  execute_process(COMMAND ${ZEMBRA_NM} -D --defined-only ${ZEMBRA_CHECK_EXPORTS}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE rc ERROR_VARIABLE errors)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${ZEMBRA_CHECK_EXPORTS}: ${errors}")
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  set(names)
  foreach(line IN LISTS lines)
    # "<address> <kind> <name>"; absolute version-node symbols are not exports.
    if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) ([^ ]+)$" AND NOT CMAKE_MATCH_1 STREQUAL "A")
      list(APPEND names ${CMAKE_MATCH_2})
    endif()
  endforeach()
  list(SORT names)
  if(NOT names STREQUAL ZEMBRA_COMPONENT_ENTRY_POINTS)
    message(FATAL_ERROR "${ZEMBRA_CHECK_EXPORTS} exports [${names}], "
                        "expected exactly [${ZEMBRA_COMPONENT_ENTRY_POINTS}]")
  endif()
  message(STATUS "exports: ${names}")
  return()
endif()

include_guard(GLOBAL)
include(GNUInstallDirs)
set(_ZEMBRA_COMPONENT_FILE ${CMAKE_CURRENT_LIST_FILE})

function(zembra_add_component target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_INSTALL" "PROGID" "")
  if(NOT arg_PROGID)
    message(FATAL_ERROR "zembra_add_component(${target}): PROGID is required")
  endif()
  get_target_property(type ${target} TYPE)
  if(NOT type STREQUAL "SHARED_LIBRARY" AND NOT type STREQUAL "MODULE_LIBRARY")
    message(FATAL_ERROR "zembra_add_component(${target}): a SHARED or MODULE library is required")
  endif()

  set_target_properties(${target} PROPERTIES
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    ZEMBRA_PROGID ${arg_PROGID})

  # Everything but the entry points stays local, whatever the sources mark visible.
  string(JOIN "; " globals ${ZEMBRA_COMPONENT_ENTRY_POINTS})
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}-exports.map)
  file(CONFIGURE OUTPUT ${script} CONTENT "{\n  global: ${globals};\n  local: *;\n};\n")
  target_link_options(${target} PRIVATE "LINKER:--version-script=${script}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${script})

  # The registration must land in the registry of the tree being built or installed,
  # not wherever the caller's environment happens to point.
  set(env ${CMAKE_COMMAND} -E env --unset=ZEMBRA_REGISTRY ASAN_OPTIONS=detect_leaks=0)
  if(TARGET zembra_regsvr)
    add_dependencies(${target} zembra_regsvr)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${env} $<TARGET_FILE:zembra_regsvr> -s $<TARGET_FILE:${target}>
      COMMENT "Registering ${arg_PROGID} in the build tree"
      VERBATIM)
    set(installed_regsvr "${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:zembra_regsvr>")
  elseif(TARGET Zembra::regsvr)
    # Outside the project: register with the installed Zembra's own tool, at install only.
    set(installed_regsvr "$<TARGET_FILE:Zembra::regsvr>")
  else()
    message(FATAL_ERROR "zembra_add_component(${target}): zembra-regsvr is not available")
  endif()

  if(NOT arg_NO_INSTALL)
    install(TARGETS ${target}
      LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    # At install time, relative paths are taken from the (DESTDIR-prefixed) install prefix;
    # the registration itself stores a relative path, so DESTDIR does not end up in it.
    set(manifest "")
    if(DEFINED ZEMBRA_INSTALL_DATADIR)
      set(manifest "list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${_zembra_root}/${ZEMBRA_INSTALL_DATADIR}/registry/${arg_PROGID}.component\")")
    endif()
    install(CODE "
      set(_zembra_root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
      set(_zembra_regsvr \"${installed_regsvr}\")
      if(NOT IS_ABSOLUTE \"\${_zembra_regsvr}\")
        set(_zembra_regsvr \"\${_zembra_root}/\${_zembra_regsvr}\")
      endif()
      set(_zembra_library \"\${_zembra_root}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:${target}>\")
      message(STATUS \"Registering: ${arg_PROGID}\")
      execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=ZEMBRA_REGISTRY ASAN_OPTIONS=detect_leaks=0
                              \"\${_zembra_regsvr}\" -s \"\${_zembra_library}\"
                      RESULT_VARIABLE _zembra_rc)
      if(NOT _zembra_rc EQUAL 0)
        message(FATAL_ERROR \"Registering ${arg_PROGID} (\${_zembra_library}) failed\")
      endif()
      ${manifest}
    ")
  endif()
endfunction()

function(zembra_add_export_test target)
  set(nm nm)
  if(CMAKE_NM)
    set(nm ${CMAKE_NM})
  endif()
  add_test(NAME ${target}_exports
    COMMAND ${CMAKE_COMMAND} -DZEMBRA_CHECK_EXPORTS=$<TARGET_FILE:${target}> -DZEMBRA_NM=${nm}
            -P ${_ZEMBRA_COMPONENT_FILE})
endfunction()

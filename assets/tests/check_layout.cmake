# Checks the client's program folder as the build lays it out: the map and overlay
# folders hold what start-up selects (third map usa.jpg, fifth overlay the red dot) and the
# maps' world files, the output folder exists, and the help file is a compiled help file
# holding every page.
# Run with -DAPP_DIR=<program folder> -DHELP_PAGES=<page;page;...>.

# require(<condition as for if()> <message>): stops the check with the message unless it holds.
macro(require cond message)
  cmake_language(EVAL CODE "if(NOT (${cond}))\n message(FATAL_ERROR [==[${message}]==])\nendif()")
endmacro()

# Names in case-insensitive order, as the client lists a folder.
function(sorted_names dir out)
  file(GLOB files RELATIVE ${dir} ${dir}/*)
  set(keyed)
  foreach(f IN LISTS files)
    string(TOLOWER "${f}" key)
    list(APPEND keyed "${key}|${f}")
  endforeach()
  list(SORT keyed)
  set(names)
  foreach(k IN LISTS keyed)
    string(REGEX REPLACE "^[^|]*\\|" "" name "${k}")
    list(APPEND names "${name}")
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# Each map with its world file beside it.
sorted_names(${APP_DIR}/Images/Maps maps)
set(expected "alaska.jgw;alaska.jpg;hawaii.jgw;hawaii.jpg;usa.jgw;usa.jpg")
if(NOT maps STREQUAL expected)
  message(FATAL_ERROR "Images/Maps holds '${maps}', expected exactly ${expected}")
endif()

sorted_names(${APP_DIR}/Images/Overlays overlays)
list(LENGTH overlays count)
require("count GREATER_EQUAL 5" "Images/Overlays holds ${count} pictures; start-up selects the fifth")
list(GET overlays 4 fifth)
require("fifth STREQUAL red_dot_11.png" "the fifth overlay is ${fifth}, expected red_dot_11.png")
foreach(f IN LISTS overlays)
  get_filename_component(ext "${f}" LAST_EXT)
  string(TOLOWER "${ext}" ext)
  require("ext STREQUAL .png" "Images/Overlays/${f} is not a .png")
  file(READ ${APP_DIR}/Images/Overlays/${f} magic LIMIT 8 HEX)
  require("magic STREQUAL 89504e470d0a1a0a" "Images/Overlays/${f} is not a PNG file")
endforeach()
foreach(f IN LISTS maps)
  if(f MATCHES "\\.jpg$")
    file(READ ${APP_DIR}/Images/Maps/${f} magic LIMIT 3 HEX)
    require("magic STREQUAL ffd8ff" "Images/Maps/${f} is not a JPEG file")
  else()
    file(STRINGS ${APP_DIR}/Images/Maps/${f} lines)
    list(LENGTH lines count)
    require("count EQUAL 6" "Images/Maps/${f} is not a world file of six lines")
  endif()
endforeach()

require("IS_DIRECTORY ${APP_DIR}/Images/Output" "Images/Output was not created")

set(chm ${APP_DIR}/Help/Zembra.chm)
require("EXISTS ${chm}" "Help/Zembra.chm was not built")
file(READ ${chm} magic LIMIT 4 HEX)
require("magic STREQUAL 49545346" "Help/Zembra.chm does not start with ITSF")
# The directory of a compiled help file lists each stored file's path in plain text.
file(STRINGS ${chm} names REGEX "\\.(htm|hhc|hhk|css)")
string(JOIN " " names ${names})
list(LENGTH HELP_PAGES page_count)
require("page_count GREATER_EQUAL 5" "only ${page_count} help pages were found in the sources")
foreach(page IN LISTS HELP_PAGES)
  string(FIND "${names}" "/${page}" at)
  require("at GREATER -1" "Help/Zembra.chm does not contain ${page}")
endforeach()

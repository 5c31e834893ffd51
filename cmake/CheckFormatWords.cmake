# Fails when more than MAX source files outside the imaging adapter (engine/) and the tests
# spell a picture format's name or extension as a quoted text, a file pattern or a MIME type:
# everywhere else a format is read from the imaging adapter's format table.
#
#   cmake -DROOT=<source tree> -DMAX=3 -P CheckFormatWords.cmake
if(NOT ROOT OR NOT DEFINED MAX)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -DMAX=<files> -P CheckFormatWords.cmake")
endif()

set(word "(bmp|gif|png|jpe?g)")
set(pattern "\"\\.?${word}\"|\\*\\.${word}|image/${word}")
set(kinds *.c *.cc *.cpp *.h *.hpp *.js *.mjs *.html *.css *.sh *.py *.cmake CMakeLists.txt)

# The top-level folders but the engine, build trees and hidden ones.
file(GLOB tops RELATIVE ${ROOT} ${ROOT}/*)
set(files)
foreach(top IN LISTS tops)
  if(NOT IS_DIRECTORY ${ROOT}/${top} OR top MATCHES "^(engine|build.*|\\..*)$")
    continue()
  endif()
  foreach(kind IN LISTS kinds)
    file(GLOB_RECURSE found RELATIVE ${ROOT} ${ROOT}/${top}/${kind})
    list(APPEND files ${found})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES files)
list(FILTER files EXCLUDE REGEX "(^|/)(tests?|node_modules)/|test")

set(spelling)
foreach(f IN LISTS files)
  file(STRINGS ${ROOT}/${f} hits REGEX "${pattern}")
  if(hits)
    list(APPEND spelling ${f})
  endif()
endforeach()
list(LENGTH spelling count)
list(JOIN spelling "\n  " listed)
if(count GREATER MAX)
  message(FATAL_ERROR "${count} source files spell format words (at most ${MAX}); read the "
                      "format table (engine/imaging/picture_formats.hpp) instead:\n  ${listed}")
endif()
message(STATUS "${count} source files spell format words (at most ${MAX}):\n  ${listed}")

# Runs lupdate over the program's sources into a copy of the translation and
# fails when that finds a text without English (new or unfinished) or English
# for a text the program no longer has.
#   cmake -DLUPDATE=... -DSOURCE=<project> -DTS=<.ts> -DWORK=<folder> -P CheckTranslations.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
get_filename_component(_name "${TS}" NAME)
set(_copy "${WORK}/${_name}")
file(COPY_FILE "${TS}" "${_copy}")

# The same sources translations/CMakeLists.txt gives lupdate.
file(GLOB _sources
     "${SOURCE}/dialogs/*.ui" "${SOURCE}/dialogs/*.cpp" "${SOURCE}/dialogs/*.h"
     "${SOURCE}/app/*.cpp" "${SOURCE}/app/*.h"
     "${SOURCE}/viewers/*.cpp" "${SOURCE}/viewers/*.h")
execute_process(COMMAND "${LUPDATE}" -silent -locations none -source-language zh_CN -target-language en
                        ${_sources} -ts "${_copy}"
                RESULT_VARIABLE _result OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
if(NOT _result EQUAL 0)
    message(FATAL_ERROR "lupdate failed:\n${_out}")
endif()

file(READ "${_copy}" _ts)
string(REGEX MATCHALL "<message>.*</message>" _all "${_ts}")
set(_problems "")
# One message at a time: split at each closing tag.
string(REPLACE "</message>" "</message>;" _messages "${_all}")
set(_count 0)
foreach(m IN LISTS _messages)
    if(NOT m MATCHES "<source>")
        continue()
    endif()
    math(EXPR _count "${_count} + 1")
    string(REGEX MATCH "<source>([^<]*)</source>" _ "${m}")
    set(_source "${CMAKE_MATCH_1}")
    if(m MATCHES "type=\"(unfinished|vanished|obsolete)\"")
        list(APPEND _problems "${CMAKE_MATCH_1}: ${_source}")
    elseif(m MATCHES "<translation></translation>|<translation/>")
        list(APPEND _problems "empty: ${_source}")
    endif()
endforeach()
if(_count EQUAL 0)
    message(FATAL_ERROR "no messages found in ${_copy}")
endif()
if(_problems)
    list(JOIN _problems "\n  " _list)
    message(FATAL_ERROR "${TS} needs work (cmake --build <build> --target update_translations):\n  ${_list}")
endif()
message(STATUS "${_count} texts, all translated")

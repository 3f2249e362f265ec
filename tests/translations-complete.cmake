# Fails when a reason of the conversion (Reason::tr in SOURCE_DIR) has no finished translation in
# TS, or TS holds one for a reason that is gone. lupdate brings a copy of TS up to date with the
# sources; a new reason comes in unfinished, a removed one as vanished.
# Usage: cmake -DLUPDATE=... -DTS=... -DSOURCE_DIR=... -DWORK_DIR=... -P translations-complete.cmake
get_filename_component(name "${TS}" NAME)
set(copy "${WORK_DIR}/${name}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(COPY_FILE "${TS}" "${copy}")
execute_process(COMMAND "${LUPDATE}" -silent -locations none "${SOURCE_DIR}" -ts "${copy}"
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "lupdate failed (${status})")
endif()
file(STRINGS "${copy}" lines)
set(previous "")
set(faults "")
foreach(line IN LISTS lines)
    if(line MATCHES "type=\"(unfinished|vanished|obsolete)\"")
        string(APPEND faults "\n  ${CMAKE_MATCH_1}: ${previous}")
    endif()
    set(previous "${line}")
endforeach()
if(faults)
    message(FATAL_ERROR "${name} is not complete (run the update_translations target, then translate):${faults}")
endif()

# write_windows_readme(<file>)
# The read-me of the Windows release from README.txt.in beside this file, its lists of
# programs from programs.txt. Notepad shows the Chinese only from UTF-8 with a byte-order
# mark, and older Notepads break lines only at CR LF.
# Without a cross-build the same read-me is written by
#   cmake -DPROJECT_VERSION=1.00 -DREADME=<file> -P packaging/windows/readme.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../programs.cmake)
set(WINDOWS_README_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/README.txt.in)

function(write_windows_readme file)
    console_program_lines(PROGRAMS_CHINESE CHINESE "  " .exe 3 "，启动时打开 COM<port>")
    console_program_lines(PROGRAMS_ENGLISH ENGLISH "  " .exe 3 ", opens COM<port>"
                          ", opens COM<port> at start")
    # The lines filled in keep their own line ends.
    string(REPLACE "\n" "\r\n" PROGRAMS_CHINESE "${PROGRAMS_CHINESE}")
    string(REPLACE "\n" "\r\n" PROGRAMS_ENGLISH "${PROGRAMS_ENGLISH}")
    file(READ ${WINDOWS_README_TEMPLATE} readme)
    string(ASCII 239 187 191 bom)
    file(CONFIGURE OUTPUT ${file} CONTENT "${bom}${readme}" @ONLY NEWLINE_STYLE CRLF)
    if(NOT CMAKE_SCRIPT_MODE_FILE)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${WINDOWS_README_TEMPLATE})
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    write_windows_readme(${README})
endif()

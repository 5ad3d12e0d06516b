# cmake -DSTAGE=<dir> -DFOLDER=<name> -DZIP=<zip program> -DZIP_FILE=<file> -DMAKENSIS=<program>
#       -DNSI=<installer.nsi> -P pack.cmake
# Packs the folder staged as STAGE/FOLDER: the zip, in name order so that the
# same build gives the same listing, and the installer, whose file lists are
# written here into files.nsh beside NSI. The uninstaller deletes exactly the
# files the installer put there and then only the folders left empty, so that
# nothing a user added is lost, even in a folder chosen by mistake.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${STAGE}/${FOLDER} ${STAGE}/${FOLDER}/*)
list(SORT files)

list(TRANSFORM files PREPEND ${FOLDER}/ OUTPUT_VARIABLE entries)
execute_process(COMMAND ${ZIP} -X -q -9 ${ZIP_FILE} ${entries}
                WORKING_DIRECTORY ${STAGE} COMMAND_ERROR_IS_FATAL ANY)

set(install "!macro InstallFiles\n")
set(uninstall "!macro UninstallFiles\n")
set(folders "")
foreach(file IN LISTS files)
    cmake_path(GET file PARENT_PATH folder)
    string(REPLACE "/" "\\" windows_path "$INSTDIR/${folder}")
    string(REGEX REPLACE "\\\\$" "" windows_path "${windows_path}")
    string(APPEND install "    SetOutPath \"${windows_path}\"\n    File \"${STAGE}/${FOLDER}/${file}\"\n")
    string(REPLACE "/" "\\" windows_path "$INSTDIR/${file}")
    string(APPEND uninstall "    Delete \"${windows_path}\"\n")
    while(folder)
        list(APPEND folders ${folder})
        cmake_path(GET folder PARENT_PATH folder)
    endwhile()
endforeach()
list(REMOVE_DUPLICATES folders)
# A folder sorts before the folders inside it, so the reverse order empties them first.
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
    string(REPLACE "/" "\\" windows_path "$INSTDIR/${folder}")
    string(APPEND uninstall "    RMDir \"${windows_path}\"\n")
endforeach()
cmake_path(REPLACE_FILENAME NSI files.nsh OUTPUT_VARIABLE nsh)
file(WRITE ${nsh} "${install}!macroend\n${uninstall}!macroend\n")
execute_process(COMMAND ${MAKENSIS} -V2 -INPUTCHARSET UTF8 ${NSI} COMMAND_ERROR_IS_FATAL ANY)

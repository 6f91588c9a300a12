# Run by CPack between the install step and the package: strips every ELF
# file in the package as Debian's dh_strip does, the symbol table and the
# .comment and .note sections too, which plain strip keeps.
file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS files)
    if(IS_SYMLINK "${file}")
        continue()
    endif()
    file(READ "${file}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
        execute_process(COMMAND "${CPACK_VYX_STRIP}" --remove-section=.comment --remove-section=.note
                                --strip-unneeded "${file}"
                        RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "cannot strip ${file}")
        endif()
    endif()
endforeach()

# Manual pages, shell completion, README and licence, for POSIX installs:
#
#   share/man/man1/qkdec.1.gz, qk.1.gz         (gzipped when gzip is found)
#   share/bash-completion/completions/qk
#   share/zsh/vendor-completions/_qk
#   share/doc/qkdec/README.md, copyright       (the licence, as Debian names it)
#
# The pages' sources are hand-written roff in man/.
if(WIN32)
    return()
endif()
include(GNUInstallDirs)

set(QK1_MAN_PAGES qkdec.1 qk.1)
find_program(QK_GZIP gzip)
foreach(page ${QK1_MAN_PAGES})
    set(source "${PROJECT_SOURCE_DIR}/man/${page}")
    if(QK_GZIP)
        # -n leaves out name and time, so that the same page gives the same bytes.
        set(packed "${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz")
        add_custom_command(OUTPUT "${packed}"
            COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/man"
            COMMAND "${QK_GZIP}" -9 -n -c "${source}" > "${packed}"
            DEPENDS "${source}"
            VERBATIM)
        list(APPEND QK1_PACKED_PAGES "${packed}")
        install(FILES "${packed}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
    else()
        install(FILES "${source}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
    endif()
endforeach()
if(QK1_PACKED_PAGES)
    add_custom_target(qk1_man_pages ALL DEPENDS ${QK1_PACKED_PAGES})
endif()

install(FILES completion/qk.bash
    DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions" RENAME qk)
install(FILES completion/_qk DESTINATION "${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions")

install(FILES README.md DESTINATION "${CMAKE_INSTALL_DOCDIR}")
install(FILES LICENSE DESTINATION "${CMAKE_INSTALL_DOCDIR}" RENAME copyright)

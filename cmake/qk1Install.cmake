# Installing the library for other CMake projects, and the two programs.
#
#   cmake --install build --prefix /opt/qk1
#   # in the other project:
#   find_package(qk1 REQUIRED)              # CMAKE_PREFIX_PATH=/opt/qk1
#   target_link_libraries(app PRIVATE qk1::qk1)
#
# Only the public headers (include/qk1) are installed: code includes them as
# #include "qk1/ArchiveReader.h". The library's internals and the programs'
# console code stay in the tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QK1_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/qk1")

target_include_directories(qk1 PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS qk1 EXPORT qk1Targets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

install(FILES
    include/qk1/Archive.h
    include/qk1/ArchiveReader.h
    include/qk1/ArchiveWriter.h
    include/qk1/Status.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qk1)

install(EXPORT qk1Targets NAMESPACE qk1:: DESTINATION ${QK1_INSTALL_CMAKEDIR})
configure_package_config_file(cmake/qk1Config.cmake.in
    "${CMAKE_CURRENT_BINARY_DIR}/qk1Config.cmake"
    INSTALL_DESTINATION ${QK1_INSTALL_CMAKEDIR})
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/qk1ConfigVersion.cmake"
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
    "${CMAKE_CURRENT_BINARY_DIR}/qk1Config.cmake"
    "${CMAKE_CURRENT_BINARY_DIR}/qk1ConfigVersion.cmake"
    DESTINATION ${QK1_INSTALL_CMAKEDIR})

# The build tree works as a package too (CMAKE_PREFIX_PATH=<build dir>).
export(EXPORT qk1Targets NAMESPACE qk1:: FILE "${CMAKE_CURRENT_BINARY_DIR}/qk1Targets.cmake")

# The programs side by side, so that qk a --sfx finds qkdec-sfx (or qkdec).
foreach(program qkdec qkdec-sfx qk)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

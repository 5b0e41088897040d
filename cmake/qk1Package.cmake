# The Debian package, made by CPack from the install rules:
#
#   cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
#   cmake --build build-package && (cd build-package && cpack -G DEB)
#
# scripts/package does exactly this. One package, qkdec, holds both programs,
# the library with its headers and CMake package, the manual pages, the shell
# completion, the README and the licence. Its dependencies come from
# dpkg-shlibdeps (package dpkg-dev) and its architecture from dpkg.
set(CPACK_PACKAGE_NAME qkdec)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the qkdec developers")
set(CPACK_PACKAGE_CONTACT "the qkdec developers <qkdec@invalid>" CACHE STRING
    "Maintainer of the Debian package (Name <address>)")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extract, test and create qk1 archives")
# The long description; CPack puts the summary in front of it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "qk1 archives are old Japanese archives and self-extracting programs whose
entries carry Shift-JIS names, packed by an LZ coder with static prefix codes
and optionally scrambled under a password.
.
qkdec extracts them at the console, with Japanese messages and questions
answered on standard input; qk lists, tests, extracts, prints and creates
them. The static library libqk1, its headers and its CMake package serve
programs that read or write the format.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Folders the system owns (/usr, /usr/share/man...) keep their usual modes.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

include(CPack)

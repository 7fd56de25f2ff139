# Installs the cgivar library as a package of its own (component
# "development"): libcgivar.a, the public headers under include/vokt, a
# CMake package (find_package(vokt) gives vokt::cgivar) and a pkg-config
# file (vokt-cgivar).  Both package files find the prefix from where they
# lie, so an install with "cmake --install --prefix DIR" works anywhere.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VOKT_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/vokt")
set(VOKT_PKGCONFIG_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

install(TARGETS cgivar EXPORT voktTargets
        ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development)
install(FILES ${VOKT_PUBLIC_HEADERS}
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/vokt" COMPONENT development)
install(EXPORT voktTargets NAMESPACE vokt::
        DESTINATION "${VOKT_CMAKE_DIR}" COMPONENT development)

configure_package_config_file(cmake/voktConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/voktConfig.cmake"
  INSTALL_DESTINATION "${VOKT_CMAKE_DIR}")
write_basic_package_version_file(
  "${CMAKE_CURRENT_BINARY_DIR}/voktConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/voktConfig.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/voktConfigVersion.cmake"
        DESTINATION "${VOKT_CMAKE_DIR}" COMPONENT development)

# pkg-config: the prefix is reached from the .pc file's own folder.
file(RELATIVE_PATH VOKT_PC_TO_PREFIX
     "/${VOKT_PKGCONFIG_DIR}" "/")
string(REGEX REPLACE "/$" "" VOKT_PC_TO_PREFIX "${VOKT_PC_TO_PREFIX}")
configure_file(cmake/vokt-cgivar.pc.in
               "${CMAKE_CURRENT_BINARY_DIR}/vokt-cgivar.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/vokt-cgivar.pc"
        DESTINATION "${VOKT_PKGCONFIG_DIR}" COMPONENT development)

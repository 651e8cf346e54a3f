# What `cmake --install` puts in place, in two components:
#   runtime  the module (in a folder of its own: it is loaded by path), certctl
#            with its man page and bash completion, the metrics and renewal services
#            and timers, and the alert rules of the renewals;
#   dev      the host-facing headers, the reference host (a static library with
#            its headers), the CMake package and the pkg-config file.
include(CMakePackageConfigHelpers)

set(CM_MODULE_FILE "${CM_MODULE_DIR}/${CMAKE_SHARED_LIBRARY_PREFIX}certificates_manager${CMAKE_SHARED_LIBRARY_SUFFIX}")
set(CM_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/CertificatesManager")
set(CM_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc")

# runtime
install(TARGETS certificates_manager LIBRARY DESTINATION ${CM_MODULE_DIR} COMPONENT runtime)
install(TARGETS certctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
configure_file(docs/certctl.1.in ${PROJECT_BINARY_DIR}/certctl.1 @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/certctl.1.gz
                   COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/certctl.1 > ${PROJECT_BINARY_DIR}/certctl.1.gz
                   DEPENDS ${PROJECT_BINARY_DIR}/certctl.1 VERBATIM)
add_custom_target(certctl_man ALL DEPENDS ${PROJECT_BINARY_DIR}/certctl.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/certctl.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
install(FILES dist/bash-completion/certctl DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        COMPONENT runtime)
install(FILES ${PROJECT_BINARY_DIR}/tools/certctl-metrics.service ${PROJECT_BINARY_DIR}/tools/certctl-metrics.timer
              ${PROJECT_BINARY_DIR}/tools/certctl-renew.service ${PROJECT_BINARY_DIR}/tools/certctl-renew.timer
        DESTINATION lib/systemd/system COMPONENT runtime)
install(FILES dist/prometheus/certctl.rules.yml DESTINATION ${CMAKE_INSTALL_DATADIR}/certctl COMPONENT runtime)

# dev
add_library(certificates_manager_headers INTERFACE)
target_include_directories(certificates_manager_headers INTERFACE $<INSTALL_INTERFACE:${CM_INCLUDE_DIR}>)
set_target_properties(certificates_manager_headers PROPERTIES EXPORT_NAME headers)
set_target_properties(reference_host PROPERTIES OUTPUT_NAME certificates_manager_host)
set_target_properties(lifecycle_testing PROPERTIES OUTPUT_NAME certificates_manager_testing EXPORT_NAME testing)
# The reference host brings the headers, SQLite, Threads and dl with it.
target_link_libraries(reference_host INTERFACE $<INSTALL_INTERFACE:CertificatesManager::headers>)
install(TARGETS certificates_manager_headers reference_host lifecycle_testing EXPORT CertificatesManagerTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
# The static libraries ship without their debug information (a twentieth of
# the size), as CPACK_STRIP_FILES ships the runtime's binaries.
foreach(archive reference_host lifecycle_testing)
  install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug --enable-deterministic-archives
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:${archive}>\"
                  COMMAND_ERROR_IS_FATAL ANY)"
          COMPONENT dev)
endforeach()
install(DIRECTORY include/ DESTINATION ${CM_INCLUDE_DIR} COMPONENT dev)
install(DIRECTORY host/ DESTINATION ${CM_INCLUDE_DIR}/host COMPONENT dev FILES_MATCHING PATTERN "*.h")
install(DIRECTORY ossl/ DESTINATION ${CM_INCLUDE_DIR}/ossl COMPONENT dev FILES_MATCHING PATTERN "*.h")
install(EXPORT CertificatesManagerTargets NAMESPACE CertificatesManager:: DESTINATION ${CM_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(cmake/CertificatesManagerConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/CertificatesManagerConfig.cmake
                              INSTALL_DESTINATION ${CM_CMAKE_DIR} PATH_VARS CM_MODULE_FILE)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/CertificatesManagerConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/CertificatesManagerConfig.cmake
              ${PROJECT_BINARY_DIR}/CertificatesManagerConfigVersion.cmake
        DESTINATION ${CM_CMAKE_DIR} COMPONENT dev)
# pkg-config files that follow the install: every path is relative to the
# file's own folder, so a tree installed under any prefix (or DESTDIR) names
# its own headers and libraries.
file(RELATIVE_PATH CM_PC_TO_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" CM_PC_TO_PREFIX "${CM_PC_TO_PREFIX}")
foreach(pc certificates_manager certificates_manager_host certificates_manager_testing)
  configure_file(cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endforeach()

# The host guide and the example host, for a team that starts a host.
install(FILES docs/host-guide.md DESTINATION ${CM_DOC_DIR}/certificates-manager-dev COMPONENT dev)
install(DIRECTORY examples/ DESTINATION ${CM_DOC_DIR}/certificates-manager-dev/examples COMPONENT dev)

# Each package's copyright and changelog, as Debian wants them, and the
# lintian findings it explains (dist/debian/lintian-overrides).
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.Debian.gz
                   COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/dist/debian/changelog > ${PROJECT_BINARY_DIR}/changelog.Debian.gz
                   DEPENDS ${PROJECT_SOURCE_DIR}/dist/debian/changelog VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
foreach(component runtime dev)
  set(package certificates-manager)
  if(component STREQUAL "dev")
    set(package certificates-manager-dev)
  endif()
  install(FILES dist/debian/copyright ${PROJECT_BINARY_DIR}/changelog.Debian.gz DESTINATION ${CM_DOC_DIR}/${package}
          COMPONENT ${component})
  configure_file(dist/debian/lintian-overrides ${PROJECT_BINARY_DIR}/lintian/${package} @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/lintian/${package} DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          COMPONENT ${component})
endforeach()

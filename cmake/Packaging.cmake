# Debian packages from the install components (cpack -G DEB in a build
# configured with -DCMAKE_INSTALL_PREFIX=/usr):
#   certificates-manager      the module and certctl (component runtime)
#   certificates-manager-dev  headers, CMake package, pkg-config, reference host (dev)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME certificates-manager)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Certificates manager team <certificates-manager@example.org>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The packages carry no debug information: the build tree keeps it (the
# unstripped binaries and static library). CPack's own dbgsym package lists
# its files under the staging folder's absolute paths, which lintian rejects.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME certificates-manager)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS bash-completion)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "certificates manager module and its command-line tool
A loadable module that keeps, for each of four peer types, one trusted
server certificate and one client certificate (PKCS#12 with its password)
in its host's persistent storage, refuses certificates outside their
validity period and publishes events about them. certctl uses it on a
SQLite store: it sets, lists, checks and removes certificates, reports their
expiry as a monitoring plugin (certctl check) and as Prometheus metrics
(certctl metrics, with a systemd timer installed disabled), and renews
client certificates over CMP (certctl renew, with a timer installed disabled).")

# The package makes the folder of root's default store (0700) and removes it
# on purge when it holds no store.
foreach(script postinst postrm)
  configure_file(dist/debian/${script}.in ${PROJECT_BINARY_DIR}/debian/${script} @ONLY)
  list(APPEND CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/${script})
endforeach()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME certificates-manager-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "certificates-manager (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}), libsqlite3-dev, libssl-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION
    "certificates manager: headers and reference host for host developers
The headers a host process needs to load the certificates manager module
and use its interfaces, a CMake package (find_package(CertificatesManager))
and a pkg-config file that name the installed module, and the reference
host as a static library with its headers, to start a host from.")

include(CPack)

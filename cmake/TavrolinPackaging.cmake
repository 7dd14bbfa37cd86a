# Debian packages from the install components: `cpack -G DEB` in the build folder.
set(TAVROLIN_PACKAGE_COMPONENTS runtime dev)
set(TAVROLIN_PACKAGE_NAMES libtavrolin${PROJECT_VERSION_MAJOR} libtavrolin-dev)
if(TARGET tavrolin-server)
  list(APPEND TAVROLIN_PACKAGE_COMPONENTS server)
  list(APPEND TAVROLIN_PACKAGE_NAMES tavrolin-server)
endif()
set(TAVROLIN_PACKAGE_MAINTAINER
    "Tavrolin maintainers <maintainers@users.noreply.c-seed-8a49da99.example>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrolin)
set(CPACK_PACKAGE_VENDOR "The Tavrolin developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TAVROLIN_PACKAGE_MAINTAINER})
# Each package's description below starts with its own synopsis; CPack would otherwise put the
# project's one-line description in front of it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${TAVROLIN_PACKAGE_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TAVROLIN_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds libtavrolin.so.3, which the dev package's Designer plugin needs, here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
# The packages' modes are Debian's whatever the checkout's and the umask (002 makes files and
# folders group-writable): maintainer scripts 0755, other maintainer files 0644, folders 0755.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtavrolin${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The captions are laid out for Carlito; without it the control still works, with some clipped.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS fonts-crosextra-carlito)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/libtavrolin3/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "employee-to-vendor cross reference control for Qt 6 - library
Tavrolin is an embeddable Qt 6 widget that maintains the links between one
employee and the vendors that employee deals with. It loads the employee's
vendors from a tavrolin-server, lets the user move vendors between two lists,
find and sort them, and commits all changes in one form post.
.
This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtavrolin-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "libtavrolin${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION}), qt6-base-dev (>= 6.3)")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "employee-to-vendor cross reference control for Qt 6 - development files
Tavrolin is an embeddable Qt 6 widget that maintains the links between one
employee and the vendors that employee deals with.
.
This package holds what host developers build against: the headers, the CMake
package (find_package(Tavrolin), target Tavrolin::Tavrolin) and the Qt Designer
plugin that offers the control in Designer's widget box.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME tavrolin-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
# The unit's ExecReload= signals the server with kill(1), which procps ships; the libraries
# come from shlibdeps on top of this.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "procps")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/tavrolin-server/conffiles
    ${PROJECT_SOURCE_DIR}/packaging/debian/tavrolin-server/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/tavrolin-server/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/tavrolin-server/postrm)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "server page for the Tavrolin cross reference control
tavrolin-server serves the vendor document the Tavrolin control loads from
/Tavrolin.asp and stores the link changes the control posts, in an SQLite
database. It accepts only the statement shapes the control sends and runs them
as its own parameterized statements.
.
This package runs it as the hardened systemd service tavrolin-server.service,
with its options in /etc/default/tavrolin-server.")

include(CPack)

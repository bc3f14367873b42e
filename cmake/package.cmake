# Everything a user gets: install rules (binary and manual page, nothing else), the Debian
# package built by CPack, and the release tarball with a fully static binary.
# The version is taken from project() throughout; nothing here spells it out.

set(TIVEL_PACKAGE_MAINTAINER "Tamberline <helper@tamberline.com>"
    CACHE STRING "Maintainer named in the Debian package and its changelog")

# The manual page: configured with the project version, then compressed the way Debian wants
# (gzip -9, no name or time stamp inside, so the package stays reproducible).
set(TIVEL_MAN_PAGE ${CMAKE_BINARY_DIR}/doc/${PROJECT_NAME}.1)
configure_file(${CMAKE_SOURCE_DIR}/doc/${PROJECT_NAME}.1.in ${TIVEL_MAN_PAGE} @ONLY)
add_custom_command(
  OUTPUT ${TIVEL_MAN_PAGE}.gz
  COMMAND gzip -9 -n -k -f ${TIVEL_MAN_PAGE}
  DEPENDS ${TIVEL_MAN_PAGE}
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(tivel_man_page ALL DEPENDS ${TIVEL_MAN_PAGE}.gz)

# The usual Debian hardening for the code that ships: stack protector, fortified libc calls (they
# need optimisation) and a read-only GOT, for the dynamic and the static binary alike. Sanitizer
# builds keep their own instrumentation.
set(TIVEL_SHIPPED_BINARIES tamberline-tivel-helper ${TIVEL_STATIC_TARGET})
list(REMOVE_DUPLICATES TIVEL_SHIPPED_BINARIES)
if(NOT TIVEL_SANITIZE)
  foreach(target ${TIVEL_LAYER_LIBRARIES} tivel_kernel_linux ${TIVEL_SHIPPED_BINARIES})
    target_compile_options(
      ${target}
      PRIVATE -fstack-protector-strong
              $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2>)
  endforeach()
  foreach(target ${TIVEL_SHIPPED_BINARIES})
    target_link_options(${target} PRIVATE -Wl,-z,relro -Wl,-z,now)
  endforeach()
endif()

# Reproducible artifacts: the same commit gives the same bytes wherever it is built. Compiled-in
# paths (__FILE__, debug information) name files relative to the source and build folders, and
# every time stamp inside the tarball and the .deb is the last commit's time: SOURCE_DATE_EPOCH
# when the caller sets it, else asked from git, else 0 (a source tree without its history).
foreach(target ${TIVEL_LAYER_LIBRARIES} tivel_kernel_linux ${TIVEL_SHIPPED_BINARIES})
  target_compile_options(${target} PRIVATE -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
                                           -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
endforeach()
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(TIVEL_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
elseif(NOT DEFINED TIVEL_SOURCE_DATE_EPOCH)
  execute_process(
    COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE TIVEL_SOURCE_DATE_EPOCH
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT TIVEL_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(WARNING "No SOURCE_DATE_EPOCH and no git history: artifact time stamps are 0")
  set(TIVEL_SOURCE_DATE_EPOCH 0)
endif()
# Rewritten only when the time changes, so the artifacts that depend on it are made again then.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/source-date-epoch CONTENT "${TIVEL_SOURCE_DATE_EPOCH}\n")
# CPack reads this file on every run; its DEB generator takes its time stamps from the variable.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake
     CONTENT "set(ENV{SOURCE_DATE_EPOCH} ${TIVEL_SOURCE_DATE_EPOCH})\n")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
# The package's file modes do not follow the builder's umask.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/cpack/normalize_modes.cmake)

# `make install` installs exactly these four files: the binary, the manual page and the two user
# units (mk/package.mk names the same four for `make uninstall`).
install(TARGETS tamberline-tivel-helper RUNTIME DESTINATION bin)
# A stripped install (the package's, or `cmake --install --strip`) also drops the compiler's
# .comment and .note sections, as Debian's own stripping does.
install(
  CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/$<TARGET_FILE_NAME:tamberline-tivel-helper>\")
endif()")
install(FILES ${TIVEL_MAN_PAGE}.gz DESTINATION share/man/man1)
# The user units that start the helper on demand (not enabled: each user enables the socket).
# Both go where the user manager looks for units under the prefix; the service names the binary
# by its installed path, known only when installing (`cmake --install --prefix`, CPack's /usr).
set(TIVEL_UNIT_DIR lib/systemd/user)
install(FILES ${CMAKE_SOURCE_DIR}/doc/systemd/${PROJECT_NAME}.socket DESTINATION ${TIVEL_UNIT_DIR})
install(
  CODE "set(TIVEL_BIN_DIR \"\${CMAKE_INSTALL_PREFIX}/bin\")
set(unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${TIVEL_UNIT_DIR}/${PROJECT_NAME}.service\")
message(STATUS \"Installing: \${unit}\")
configure_file(\"${CMAKE_SOURCE_DIR}/doc/systemd/${PROJECT_NAME}.service.in\" \"\${unit}\" @ONLY)
file(CHMOD \"\${unit}\" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${unit}\")")

# Files only the Debian package carries (a user's `make install` has no use for them).
set(TIVEL_DEBIAN_DOC ${CMAKE_BINARY_DIR}/debian-doc)
set(TIVEL_DEBIAN_DOC_DIR ${TIVEL_DEBIAN_DOC}/share/doc/${PROJECT_NAME})
file(MAKE_DIRECTORY ${TIVEL_DEBIAN_DOC_DIR})
configure_file(${CMAKE_SOURCE_DIR}/doc/debian/copyright ${TIVEL_DEBIAN_DOC_DIR}/copyright COPYONLY)
# A static build's package (the arm64 one) holds the static release binary on purpose: the same
# bytes as the tarball's, for any Debian or derivative of that architecture.
file(READ ${CMAKE_SOURCE_DIR}/doc/debian/lintian-overrides TIVEL_LINTIAN_OVERRIDES)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                                       ${CMAKE_SOURCE_DIR}/doc/debian/lintian-overrides)
if(TIVEL_STATIC)
  string(APPEND TIVEL_LINTIAN_OVERRIDES
         "# The release binary is linked fully static on purpose, the tarball's own bytes.\n"
         "${PROJECT_NAME}: statically-linked-binary [usr/bin/${PROJECT_NAME}]\n")
endif()
file(CONFIGURE OUTPUT ${TIVEL_DEBIAN_DOC}/share/lintian/overrides/${PROJECT_NAME}
     CONTENT "${TIVEL_LINTIAN_OVERRIDES}" @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/doc/debian/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
add_custom_command(
  OUTPUT ${TIVEL_DEBIAN_DOC_DIR}/changelog.gz
  COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/doc/changelog > ${TIVEL_DEBIAN_DOC_DIR}/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog
  COMMENT "Compressing the Debian changelog")
add_custom_target(tivel_debian_doc ALL DEPENDS ${TIVEL_DEBIAN_DOC_DIR}/changelog.gz)

# The release tarball's binary: the same objects linked fully static and stripped, so it runs on
# any Linux system (or in an empty chroot). Sanitizer runtimes cannot be linked statically.
if(NOT TIVEL_SANITIZE)
  set(TIVEL_STATIC_BINARY $<TARGET_FILE:${TIVEL_STATIC_TARGET}>)

  set(TIVEL_TARBALL_STEM ${PROJECT_NAME}-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}-static)
  set(TIVEL_TARBALL ${CMAKE_BINARY_DIR}/${TIVEL_TARBALL_STEM}.tar.gz)
  # The folder inside names the architecture too: both tarballs unpacked in one place must not
  # overwrite each other.
  set(TIVEL_TARBALL_FOLDER ${PROJECT_NAME}-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(TIVEL_TARBALL_STAGE ${CMAKE_BINARY_DIR}/tarball/${TIVEL_TARBALL_FOLDER})
  add_custom_command(
    OUTPUT ${TIVEL_TARBALL}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/tarball
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TIVEL_TARBALL_STAGE}
    COMMAND ${CMAKE_COMMAND} -E copy ${TIVEL_STATIC_BINARY} ${TIVEL_MAN_PAGE}
            ${CMAKE_SOURCE_DIR}/README.md ${TIVEL_TARBALL_STAGE}/
    COMMAND tar --format=gnu --sort=name --owner=0 --group=0 --numeric-owner
            --mtime=@${TIVEL_SOURCE_DATE_EPOCH} --mode=u=rwX,go=rX
            "--use-compress-program=gzip -9 -n" -cf ${TIVEL_TARBALL} -C ${CMAKE_BINARY_DIR}/tarball
            ${TIVEL_TARBALL_FOLDER}
    DEPENDS ${TIVEL_STATIC_TARGET} ${TIVEL_MAN_PAGE} ${CMAKE_SOURCE_DIR}/README.md
            ${CMAKE_BINARY_DIR}/source-date-epoch
    COMMENT "Packing ${TIVEL_TARBALL_STEM}.tar.gz"
    VERBATIM)
  add_custom_target(release_tarball ALL DEPENDS ${TIVEL_TARBALL})
endif()

# The Debian package: /usr/bin and /usr/share/man from the install rules above, plus the copyright
# file and changelog Debian policy asks for. dpkg-shlibdeps works out the dependencies.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TIVEL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "WiFi information helper for the Tamberline WiFi Kestrune page")
# Debian wants the long description in lines of under 80 columns; CPack keeps these line breaks.
set(CPACK_PACKAGE_DESCRIPTION
    "A small command-line helper that hands this computer's WiFi facts to the
Tamberline WiFi Kestrune web page. A web page cannot read WiFi data by itself,
so the user starts the helper in a terminal; the page connects to it over a
WebSocket on 127.0.0.1 and asks for the current link, the nearby networks with
their raw information elements, and a live signal-strength stream.
The helper listens on loopback only, accepts only the page's own origins,
saves nothing and quits by itself. All WiFi data comes from the kernel's
nl80211 interface.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# CPack places these relative to the package root, so name the prefix without its leading slash.
string(REGEX REPLACE "^/" "" TIVEL_PACKAGE_PREFIX_DIR ${CPACK_PACKAGING_INSTALL_PREFIX})
set(CPACK_INSTALLED_DIRECTORIES ${TIVEL_DEBIAN_DOC} ${TIVEL_PACKAGE_PREFIX_DIR})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TIVEL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tamberline.com)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The postinst gives the binary its file capability with setcap, from libcap2-bin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libcap2-bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/doc/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# A cross build packages for its own architecture, not the build machine's (dpkg's names).
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  else()
    message(FATAL_ERROR "No Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
endif()
include(CPack)

# What a release needs built, and nothing else (a cross build makes just this).
add_custom_target(tivel_release)
add_dependencies(tivel_release tamberline-tivel-helper tivel_man_page tivel_debian_doc)
if(TARGET release_tarball)
  add_dependencies(tivel_release release_tarball)
endif()

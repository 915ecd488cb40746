# Install rules and the Debian package (CPack, scripts/package.sh). Included at the end of the top
# CMakeLists.txt, so that every program is defined by now; the optional ones are picked up with
# if(TARGET ...) and if(EXISTS ...).
#
# Layout under the prefix (/usr in the package):
#   bin/tovrin, bin/tovrinctl                     the programs, RUNPATH $ORIGIN/../lib/<triplet>/tovrin
#   lib/<triplet>/tovrin/libtovrin_gui.so.0       the window library (SONAME libtovrin_gui.so.0), kept
#                                                 private: other programs dlopen it by its full path
#   include/tovrin/TovrinGotoProj.h               the exported functions, for those callers
#   share/applications, share/icons/hicolor, share/metainfo, share/man/man1, share/doc/tovrin,
#   share/bash-completion/completions/tovrinctl
#   lib/systemd/system/tovrin-monitor@.service, share/tovrin/tovrin-alerts.yml, share/tovrin/alertmanager.yml
include(GNUInstallDirs)

set(TOVRIN_PACKAGE_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(TOVRIN_APPSTREAM_ID org.tovrin.tovrin)
set(TOVRIN_PACKAGE_MAINTAINER "Tovrin maintainers <maintainers@users.noreply.c-seed-101026e6.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(TOVRIN_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/tovrin)
file(RELATIVE_PATH tovrin_lib_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR}/tovrin)

# The release is named in three places; a package whose changelog or metadata names another
# version would be wrong in a way no build notices.
foreach(file changelog ${TOVRIN_APPSTREAM_ID}.metainfo.xml)
  file(READ ${TOVRIN_PACKAGE_DIR}/${file} text)
  if(NOT text MATCHES "tovrin \\(${PROJECT_VERSION}\\)" AND NOT text MATCHES "<release version=\"${PROJECT_VERSION}\"")
    message(FATAL_ERROR "packaging/${file} does not name version ${PROJECT_VERSION} as its newest release")
  endif()
endforeach()

# gzip -9n: compressed the same way on every build (no name, no time stamp), as Debian asks.
function(tovrin_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh ${source} ${output}
    DEPENDS ${source} VERBATIM)
endfunction()

set(package_data "")
set(package_targets "")
if(TARGET tovrin_gui)
  list(APPEND package_targets tovrin_gui)
  set_target_properties(tovrin_gui PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  install(TARGETS tovrin_gui
          LIBRARY DESTINATION ${TOVRIN_PRIVATE_LIBDIR} NAMELINK_SKIP
                  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  if(EXISTS ${PROJECT_SOURCE_DIR}/gotoproj/TovrinGotoProj.h)
    install(FILES ${PROJECT_SOURCE_DIR}/gotoproj/TovrinGotoProj.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tovrin)
  endif()
endif()

foreach(program tovrin tovrinctl)
  if(NOT TARGET ${program})
    continue()
  endif()
  get_target_property(links ${program} LINK_LIBRARIES)
  if("tovrin_gui" IN_LIST links)
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${tovrin_lib_from_bin}")
  endif()
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  list(APPEND package_targets ${program})

  # Manual pages: written by hand for the window program, made from --help for the others.
  set(summary_tovrinctl "find and set up network audio amplifiers from the command line")
  set(page ${CMAKE_CURRENT_BINARY_DIR}/packaging/${program}.1.gz)
  if(EXISTS ${TOVRIN_PACKAGE_DIR}/${program}.1)
    tovrin_gzip(${TOVRIN_PACKAGE_DIR}/${program}.1 ${page})
  else()
    find_program(HELP2MAN help2man)
    if(NOT HELP2MAN)
      message(STATUS "help2man not found (Debian package help2man): ${program} is installed without a manual page")
      continue()
    endif()
    # Sections --help cannot give (exit status, output formats) come from <program>.h2m.
    set(include_args "")
    set(include_file ${TOVRIN_PACKAGE_DIR}/${program}.h2m)
    if(EXISTS ${include_file})
      set(include_args --include=${include_file})
    else()
      set(include_file "")
    endif()
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/packaging/${program}.1
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
              "--name=${summary_${program}}" ${include_args}
              --output=${CMAKE_CURRENT_BINARY_DIR}/packaging/${program}.1 $<TARGET_FILE:${program}>
      DEPENDS ${program} ${include_file} VERBATIM)
    tovrin_gzip(${CMAKE_CURRENT_BINARY_DIR}/packaging/${program}.1 ${page})
  endif()
  list(APPEND package_data ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The window program's manual page in German too (tovrinctl, a tool for scripts, stays English).
if(TARGET tovrin)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/packaging/de/tovrin.1.gz)
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packaging/de)
  tovrin_gzip(${TOVRIN_PACKAGE_DIR}/tovrin.de.1 ${page})
  list(APPEND package_data ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/de/man1)
endif()

if(TARGET tovrinctl)
  install(FILES ${TOVRIN_PACKAGE_DIR}/tovrinctl.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tovrinctl)
  # `tovrinctl monitor` as a service (one instance per interface) and alerting rules for it.
  install(FILES ${TOVRIN_PACKAGE_DIR}/tovrin-monitor@.service DESTINATION lib/systemd/system)
  install(FILES ${TOVRIN_PACKAGE_DIR}/tovrin-alerts.yml ${PROJECT_SOURCE_DIR}/docs/alertmanager.yml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/tovrin)
endif()

if(TARGET tovrin)
  install(FILES ${TOVRIN_PACKAGE_DIR}/tovrin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${TOVRIN_PACKAGE_DIR}/${TOVRIN_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${TOVRIN_PACKAGE_DIR}/tovrin.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # The fixed sizes are drawn from the scalable icon.
  find_program(RSVG_CONVERT rsvg-convert)
  if(RSVG_CONVERT)
    foreach(size 16 22 24 32 48 64 128 256)
      set(png ${CMAKE_CURRENT_BINARY_DIR}/packaging/icons/${size}x${size}/tovrin.png)
      add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging/icons/${size}x${size}
        COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --output=${png} ${TOVRIN_PACKAGE_DIR}/tovrin.svg
        DEPENDS ${TOVRIN_PACKAGE_DIR}/tovrin.svg VERBATIM)
      list(APPEND package_data ${png})
      install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
  else()
    message(STATUS "rsvg-convert not found (Debian package librsvg2-bin): only the scalable icon is installed")
  endif()

  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tovrin)
  # A version without a Debian revision makes a native package, whose changelog is changelog.gz.
  tovrin_gzip(${TOVRIN_PACKAGE_DIR}/changelog ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)
  list(APPEND package_data ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${TOVRIN_PACKAGE_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz
          DESTINATION ${doc_dir})
endif()
if(package_data)
  add_custom_target(tovrin_package_data ALL DEPENDS ${package_data})
  list(APPEND package_targets tovrin_package_data)
endif()
# What scripts/package.sh builds before it packs: only what the package holds.
list(JOIN package_targets " " package_targets)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/packaging/targets "${package_targets}\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tovrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tovrin maintainers")
set(CPACK_PACKAGE_CONTACT ${TOVRIN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TOVRIN_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find network audio amplifiers and set them up")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A desktop tool for service and production staff who work with network-attached
audio amplifiers. It finds the amplifiers on the local network and keeps a live
list of them, changes an amplifier's IP settings, and uploads files to it over
its command port. It runs as an ordinary user, without root or capabilities.")
# Dependencies come from the shared libraries the programs use (dpkg-shlibdeps); the private window
# library is found through the programs' RUNPATH.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Under a Wayland session the program then runs natively instead of through XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
include(CPack)

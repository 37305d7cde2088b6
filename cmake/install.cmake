# What `cmake --install` puts where, and the packages CPack makes of it: a
# Debian package on Linux, a zip for Windows. Included at the end of the
# top-level CMakeLists.txt, once every program target exists.

# The documentation folder carries the package's name, as Debian expects.
set(CMAKE_INSTALL_DOCDIR "share/doc/zarnik" CACHE PATH "Documentation (share/doc/zarnik)")
include(GNUInstallDirs)

set(ZARNIK_PACKAGE_MAINTAINER "The Zarnik developers <zarnik@example.org>"
    CACHE STRING "Maintainer of the Debian package, \"Name <address>\"")

set(programs zarnik tubrel)
if(TARGET mova)
  list(APPEND programs mova)
endif()
set(examples examples/demo/demo.txt examples/demo/demo.bin examples/tones.txt)
list(TRANSFORM examples PREPEND ${PROJECT_SOURCE_DIR}/)

if(WIN32)
  # One flat folder: the programs next to a readme and the licence in Windows
  # text files (CR LF), and the examples.
  set(crlf_dir ${PROJECT_BINARY_DIR}/crlf)
  add_custom_command(OUTPUT ${crlf_dir}/README.txt ${crlf_dir}/LICENSE.txt
    COMMAND ${CMAKE_COMMAND} -DOUTPUT_DIR=${crlf_dir}
            -DFILES=${PROJECT_SOURCE_DIR}/README.md|README.txt|${PROJECT_SOURCE_DIR}/LICENSE|LICENSE.txt
            -P ${PROJECT_SOURCE_DIR}/cmake/crlf_text.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
            ${PROJECT_SOURCE_DIR}/cmake/crlf_text.cmake
    VERBATIM)
  add_custom_target(crlf_texts ALL DEPENDS ${crlf_dir}/README.txt ${crlf_dir}/LICENSE.txt)
  install(TARGETS ${programs} RUNTIME DESTINATION .)
  install(FILES ${crlf_dir}/README.txt ${crlf_dir}/LICENSE.txt DESTINATION .)
  install(FILES ${examples} DESTINATION examples)

  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_PACKAGE_FILE_NAME zarnik-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
else()
  install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  add_subdirectory(${PROJECT_SOURCE_DIR}/doc ${PROJECT_BINARY_DIR}/doc)
  install(FILES README.md CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The Debian package carries the licence in its copyright file instead.
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT licence)
  install(FILES ${examples} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

  # Only the Debian package has these two: the licence as a machine-readable
  # copyright file and the package's own changelog, gzipped.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  string(REGEX REPLACE "^MIT License\n\nCopyright \\(c\\) [^\n]*\n\n" "" licence "${licence}")
  string(REGEX REPLACE "\n+$" "" licence "${licence}")
  string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REGEX REPLACE "\n" "\n " licence "${licence}")
  set(debian_dir ${PROJECT_BINARY_DIR}/debian)
  file(WRITE ${debian_dir}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: zarnik

Files: *
Copyright: 2026 the Zarnik developers
License: Expat
 ${licence}
")
  string(TIMESTAMP ZARNIK_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian.in
                 ${debian_dir}/changelog @ONLY)
  execute_process(COMMAND gzip -9nc INPUT_FILE ${debian_dir}/changelog
                  OUTPUT_FILE ${debian_dir}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${debian_dir}/copyright ${debian_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_NAME zarnik)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZARNIK_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The runtime libraries the programs link come from dpkg-shlibdeps, never
  # from a hand-written list. ALSA is the one exception: live play loads it
  # when it opens the sound device (audio/alsa_library.h), so no program
  # links it and dpkg-shlibdeps cannot see it. The version is the one
  # dpkg-shlibdeps gave when the programs linked it.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libasound2 (>= 1.0.16)")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()

set(CPACK_PACKAGE_NAME zarnik)
set(CPACK_PACKAGE_VENDOR "the Zarnik developers")
set(CPACK_PACKAGE_CONTACT "${ZARNIK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player and tools for PSG register logs")
set(CPACK_PACKAGE_DESCRIPTION
"Console programs for music recorded from a three-voice AY-3-8910-family
programmable sound generator as register logs: timed writes to the chip's
registers, in a text and a binary form. zarnik emulates the chip and plays a
log live on the sound card or renders it into a WAV file; tubrel converts text
logs into the compact binary form.")
if(TARGET mova)
  string(APPEND CPACK_PACKAGE_DESCRIPTION " mova imports YM, PSG, VGM and VGZ songs into
register logs, plays them, and dumps, describes and checks logs.")
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
include(CPack)

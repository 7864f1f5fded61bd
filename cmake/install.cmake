# Install rules and the Debian package of rakemo and lusivo.
#
#   cmake --install <build> --prefix <dir>   programs into <dir>/bin, manual
#     [--strip]                              pages into <dir>/share/man/man1,
#                                            README, copyright, changelog and
#                                            example into
#                                            <dir>/share/doc/rakemo-lusivo
#   cpack --config <build>/CPackConfig.cmake a .deb installing under /usr

include(GNUInstallDirs)

set(RAKEMO_PACKAGE_NAME "rakemo-lusivo")
set(RAKEMO_PACKAGE_VERSION "1.0.0")  # the programs call themselves Version 1.0
set(RAKEMO_PACKAGE_MAINTAINER "rakemo and lusivo developers <rakemo-lusivo@example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(RAKEMO_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/${RAKEMO_PACKAGE_NAME}")

install(TARGETS rakemo lusivo RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES README.md packaging/copyright DESTINATION "${RAKEMO_DOCDIR}")

# Manual pages and the changelog are installed compressed, as Debian wants
# them: gzip -9n keeps no name or time stamp, so the same text gives the same
# bytes on every build.
find_program(RAKEMO_GZIP gzip)
if(RAKEMO_GZIP)
  set(RAKEMO_COMPRESSED "")
  foreach(source man/rakemo.1 man/lusivo.1 packaging/changelog)
    get_filename_component(name "${source}" NAME)
    set(compressed "${CMAKE_CURRENT_BINARY_DIR}/compressed/${name}.gz")
    add_custom_command(OUTPUT "${compressed}"
      COMMAND "${RAKEMO_GZIP}" -9n -c "${CMAKE_CURRENT_SOURCE_DIR}/${source}" > "${compressed}"
      DEPENDS "${source}"
      COMMENT "Compressing ${source}")
    list(APPEND RAKEMO_COMPRESSED "${compressed}")
  endforeach()
  file(MAKE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/compressed")
  add_custom_target(compressed_docs ALL DEPENDS ${RAKEMO_COMPRESSED})
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/compressed/rakemo.1.gz"
                "${CMAKE_CURRENT_BINARY_DIR}/compressed/lusivo.1.gz"
          DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/compressed/changelog.gz" DESTINATION "${RAKEMO_DOCDIR}")
else()
  message(STATUS "gzip not found: manual pages and changelog are installed uncompressed")
  install(FILES man/rakemo.1 man/lusivo.1 DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  install(FILES packaging/changelog DESTINATION "${RAKEMO_DOCDIR}")
endif()
install(FILES examples/blink.hex examples/blink.txt DESTINATION "${RAKEMO_DOCDIR}/examples")
# The programmer for -p on Linux, an example to copy onto PATH, not a program of its own.
install(PROGRAMS examples/bsldemo DESTINATION "${RAKEMO_DOCDIR}/examples")

# ---- Debian package ----
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "${RAKEMO_PACKAGE_NAME}")
set(CPACK_PACKAGE_VERSION "${RAKEMO_PACKAGE_VERSION}")
set(CPACK_PACKAGE_CONTACT "${RAKEMO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "rakemo and lusivo developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "MSP430 firmware image converters between Intel HEX and TI-TXT")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "rakemo converts an Intel HEX file into a TI-TXT file, and lusivo a\n"
    "TI-TXT file into an Intel HEX file, MSP430X images above 64 KiB\n"
    "included. With -p either program then starts the bootstrap-loader\n"
    "programmer bsldemo, an external program found on PATH, on the file it\n"
    "has written. The console texts are German.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")  # rakemo-lusivo_1.0.0_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RAKEMO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The dependencies are read off the programs themselves where
# dpkg-shlibdeps (package dpkg-dev) is there; the fixed list names the same
# libraries without versions: the C library alone where the C++ runtime is
# linked in (CONVERTER_LINK_OPTIONS).
find_program(RAKEMO_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(RAKEMO_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
elseif(CONVERTER_LINK_OPTIONS)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()

include(CPack)

# Where `cmake --install` puts things (the Filesystem Hierarchy Standard's
# layout, GNUInstallDirs' names), and what the programs must know of it.
#
# libmorvane.so is Taltrix's own: it goes into a private library folder,
# never on the linker's search path. The install marker tells an installed
# Taltrix from a build tree or a portable copy (bridge/app/program_folder.h).
# Both are passed to the code relative to the folder of the executables, so
# an installed tree works from whatever prefix or DESTDIR it lands in.
set(TALTRIX_PRIVATE_LIBDIR "${CMAKE_INSTALL_LIBDIR}/taltrix")
set(TALTRIX_DATADIR "${CMAKE_INSTALL_DATADIR}/taltrix")
file(RELATIVE_PATH TALTRIX_PRIVATE_LIBDIR_FROM_BIN
     "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}" "${CMAKE_INSTALL_PREFIX}/${TALTRIX_PRIVATE_LIBDIR}")
file(RELATIVE_PATH TALTRIX_INSTALL_MARKER_FROM_BIN
     "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}" "${CMAKE_INSTALL_PREFIX}/${TALTRIX_DATADIR}/installed")

# The Windows ZIP, `cpack -G ZIP` in the cross-build's folder: korvelan380-<version>-win64.zip
# with bin\korvelan380.dll and korvelan380.exe, sim\FTD2XX.dll (the simulated module, in a folder
# of its own where it cannot be taken for FTDI's driver), capture\FTD2XX.dll (the recording
# shim, likewise), include\korvelan380.h, lib\libkorvelan380.dll.a for MinGW, lib\korvelan380.lib
# for Microsoft's linker, the Python package, the examples, README and licence. The targets' own folders install the DLLs, the header and the MinGW library.

# The import library for Microsoft's linker, made by llvm-dlltool (Debian: llvm) from the
# project's .def. Microsoft's compiler decorates KORVELAN380_DacValSet_NoCalibed_R itself, so
# its callers look for the decorated name: that line names the export alone, without the GCC
# name it is renamed from for MinGW. (Generated, not configured: configuring would take the
# text between its "@"s for a variable.)
find_program(KORVELAN380_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
if(KORVELAN380_LLVM_DLLTOOL)
  file(READ ${PROJECT_SOURCE_DIR}/src/korvelan380.def KORVELAN380_DEF_TEXT)
  string(REGEX REPLACE "\n_Z[^ \n]* == " "\n" KORVELAN380_DEF_TEXT "${KORVELAN380_DEF_TEXT}")
  set(KORVELAN380_MSVC_DEF ${CMAKE_CURRENT_BINARY_DIR}/korvelan380-msvc.def)
  file(GENERATE OUTPUT ${KORVELAN380_MSVC_DEF} CONTENT "${KORVELAN380_DEF_TEXT}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/src/korvelan380.def)
  set(KORVELAN380_MSVC_LIB ${CMAKE_BINARY_DIR}/lib/korvelan380.lib)
  add_custom_command(OUTPUT ${KORVELAN380_MSVC_LIB}
    COMMAND ${KORVELAN380_LLVM_DLLTOOL} -m i386:x86-64 -d ${KORVELAN380_MSVC_DEF}
            -l ${KORVELAN380_MSVC_LIB}
    DEPENDS ${KORVELAN380_MSVC_DEF}
    COMMENT "Import library of korvelan380.dll for Microsoft's linker")
  add_custom_target(korvelan380_msvc_import_library ALL DEPENDS ${KORVELAN380_MSVC_LIB})
  install(FILES ${KORVELAN380_MSVC_LIB} DESTINATION ${CMAKE_INSTALL_LIBDIR})
else()
  message(WARNING "No llvm-dlltool (Debian: llvm): the ZIP will lack lib\\korvelan380.lib")
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION examples
        PATTERN "__pycache__" EXCLUDE)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME korvelan380)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the korvelan380 developers")
set(CPACK_SYSTEM_NAME win64)  # korvelan380-<version>-win64.zip, unpacking to a folder of that name
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
include(CPack)

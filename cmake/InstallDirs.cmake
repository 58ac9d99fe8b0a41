# Where `cmake --install` puts things, below the prefix (GNUInstallDirs, plus the project's own
# folders), and the relative paths that let an installed copy find its parts wherever the
# prefix ends up.
include(GNUInstallDirs)

# The simulated module's libftd2xx.so: a folder of its own, off the loader's search path, where
# it can never be taken for the vendor's driver.
set(KORVELAN380_INSTALL_SIMDIR "${CMAKE_INSTALL_LIBDIR}/korvelan380/sim")
set(KORVELAN380_INSTALL_PYTHONDIR "lib/python3/dist-packages" CACHE STRING
    "Where the Python package goes, below the prefix (Debian's python3 looks in /usr/lib/python3/dist-packages)")
# On Windows the ZIP's layout: sim\FTD2XX.dll beside bin\, the Python package in python\.
if(WIN32)
  set(KORVELAN380_INSTALL_SIMDIR "sim")
  set(KORVELAN380_INSTALL_PYTHONDIR "python")
endif()
set(KORVELAN380_INSTALL_UDEVRULESDIR "lib/udev/rules.d" CACHE STRING
    "Where the udev rule goes, below the prefix")
set(KORVELAN380_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/korvelan380")

# korvelan380_relative_path(VAR FROM TO): the path from install folder FROM to install path TO,
# both below the prefix (or absolute).
function(korvelan380_relative_path var from to)
  cmake_path(ABSOLUTE_PATH from BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" NORMALIZE)
  cmake_path(ABSOLUTE_PATH to BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" NORMALIZE)
  file(RELATIVE_PATH relative "${from}" "${to}")
  set(${var} "${relative}" PARENT_SCOPE)
endfunction()

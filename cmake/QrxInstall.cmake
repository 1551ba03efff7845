# Installation: qrx, the runtime library and its headers, the plugin with the legacy drawing
# stand-in, a CMake package and a pkg-config file. Included from the top-level CMakeLists.txt
# after every target is defined.
#
# Layout under the prefix (LIBDIR as GNUInstallDirs chooses it):
#   bin/qrx
#   LIBDIR/libqrxruntime.so.<version>, .so.<major>, .so
#   LIBDIR/qrx/libqrxplugin.so                     the plugin directory
#   LIBDIR/qrx/frameworks/ApplicationServices.framework/ApplicationServices
#   include/qrx/*.h, include/qrx/sdk/records.h     (the runtime headers include "sdk/records.h"
#                                                   beside themselves)
#   LIBDIR/cmake/qrx/qrxConfig.cmake, qrxConfigVersion.cmake, qrxTargets*.cmake
#   LIBDIR/pkgconfig/qrx.pc
# The test-only plugin module, the static libraries, the tests and the sample generator are not
# installed.
include(CMakePackageConfigHelpers)

set(QRX_INSTALL_PLUGINDIR "${CMAKE_INSTALL_LIBDIR}/qrx")
set(QRX_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/qrx")

# Paths between installed folders, so an installed tree can be moved as a whole.
file(RELATIVE_PATH QRX_BIN_TO_LIB "/p/${CMAKE_INSTALL_BINDIR}" "/p/${CMAKE_INSTALL_LIBDIR}")
file(RELATIVE_PATH QRX_BIN_TO_PLUGINDIR "/p/${CMAKE_INSTALL_BINDIR}" "/p/${QRX_INSTALL_PLUGINDIR}")

# The runtime library: versioned, and its ABI is taken to change with the major version (the
# package's compatibility rule below is the same). Consumers need C++20 for its headers.
set_target_properties(qrx_runtime PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR} EXPORT_NAME runtime)
target_compile_features(qrx_runtime PUBLIC cxx_std_20)
target_include_directories(qrx_runtime INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
add_library(qrx::runtime ALIAS qrx_runtime)

# Installed qrx finds the runtime library and its plugin relative to its own folder.
set_target_properties(qrx PROPERTIES INSTALL_RPATH "$ORIGIN/${QRX_BIN_TO_LIB}")
target_compile_definitions(qrx_cli PRIVATE QRX_INSTALLED_PLUGIN_DIR="${QRX_BIN_TO_PLUGINDIR}")

install(TARGETS qrx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS qrx_runtime EXPORT qrxTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
set_target_properties(qrx_plugin PROPERTIES EXPORT_NAME plugin)
install(TARGETS qrx_plugin EXPORT qrxTargets LIBRARY DESTINATION ${QRX_INSTALL_PLUGINDIR})
install(TARGETS qrx_legacy
  LIBRARY DESTINATION ${QRX_INSTALL_PLUGINDIR}/frameworks/ApplicationServices.framework)
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/runtime/include/qrx
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/plugin/sdk/records.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qrx/sdk)

# The CMake package: qrx::runtime, qrx::plugin (the module, for $<TARGET_FILE:qrx::plugin>) and
# QRX_PLUGIN_PATH, QRX_PLUGIN_DIR.
install(EXPORT qrxTargets NAMESPACE qrx:: DESTINATION ${QRX_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/qrxConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/qrxConfig.cmake
  INSTALL_DESTINATION ${QRX_INSTALL_CMAKEDIR}
  PATH_VARS QRX_INSTALL_PLUGINDIR CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/qrxConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qrxConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/qrxConfigVersion.cmake DESTINATION ${QRX_INSTALL_CMAKEDIR})

# pkg-config: written at install time, so the prefix given to `cmake --install --prefix` is the
# one the file names.
install(CODE "
  set(QRX_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(QRX_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(QRX_PC_VERSION \"${PROJECT_VERSION}\")
  set(QRX_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/qrx.pc.in\"
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/qrx.pc\" @ONLY)
  message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/qrx.pc\")
")

# SPDX-License-Identifier: Apache-2.0
# Installing liblmsview: headers, the shared and static library, a CMake
# package (find_package(lmsview 2.0 CONFIG REQUIRED) -> lmsview::lmsview) and
# a pkg-config file.
include(CMakePackageConfigHelpers)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/lmsview DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(TARGETS lmsview_shared EXPORT lmsviewTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT programs NAMELINK_COMPONENT dev
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(TARGETS lmsview_static EXPORT lmsviewTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(EXPORT lmsviewTargets NAMESPACE lmsview:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/lmsview COMPONENT dev)
# lmsview::ros2 and lmsview's --ros2 plug-in come with their own component,
# the one that brings DDS: the library, its link name and its targets, which
# lmsviewConfig.cmake takes where they are installed, and the plug-in in
# lmsview's own folder of the library folder.
if(TARGET lmsview_ros2)
  install(TARGETS lmsview_ros2 EXPORT lmsviewRos2Targets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ros2 NAMELINK_COMPONENT ros2)
  install(TARGETS lmsview_ros2_plugin LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/lmsview COMPONENT ros2)
  install(EXPORT lmsviewRos2Targets NAMESPACE lmsview:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/lmsview
          COMPONENT ros2)
endif()

file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/lmsviewConfig.cmake.in [=[
@PACKAGE_INIT@
include(CMakeFindDependencyMacro)
find_dependency(Threads)
include("${CMAKE_CURRENT_LIST_DIR}/lmsviewTargets.cmake")
# find_package(lmsview COMPONENTS ros2): there where liblmsview-ros2-dev is installed.
include("${CMAKE_CURRENT_LIST_DIR}/lmsviewRos2Targets.cmake" OPTIONAL)
set(lmsview_ros2_FOUND FALSE)
if(TARGET lmsview::ros2)
  set(lmsview_ros2_FOUND TRUE)
elseif("ros2" IN_LIST lmsview_FIND_COMPONENTS)
  set(lmsview_NOT_FOUND_MESSAGE
      "lmsview's ros2 component is not installed: install liblmsview-ros2-dev (Debian), or build lmsview where Cyclone DDS is found (cyclonedds-dev, cyclonedds-tools) with -DLMSVIEW_ROS2=ON")
endif()
check_required_components(lmsview)
]=])
configure_package_config_file(${CMAKE_CURRENT_BINARY_DIR}/lmsviewConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/lmsviewConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/lmsview)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/lmsviewConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/lmsviewConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/lmsviewConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/lmsview COMPONENT dev)

# The prefix is found from where the file lies, so an install under any
# --prefix is described right.
file(RELATIVE_PATH LMSVIEW_PC_UP /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
set(LMSVIEW_PC_ZSTD "")
if(LMSVIEW_ZSTD_LIBRARY)
  set(LMSVIEW_PC_ZSTD -lzstd)
endif()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/lmsview.pc.in [=[
prefix=${pcfiledir}/@LMSVIEW_PC_UP@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@CMAKE_INSTALL_INCLUDEDIR@

Name: lmsview
Description: @PROJECT_DESCRIPTION@ (library)
Version: @PROJECT_VERSION@
Libs: -L${libdir} -llmsview
Libs.private: -pthread @LMSVIEW_PC_ZSTD@ -lstdc++ -lm
Cflags: -I${includedir}
]=])
configure_file(${CMAKE_CURRENT_BINARY_DIR}/lmsview.pc.in ${CMAKE_CURRENT_BINARY_DIR}/lmsview.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/lmsview.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

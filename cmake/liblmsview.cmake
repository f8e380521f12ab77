# SPDX-License-Identifier: Apache-2.0
# liblmsview: the same objects as one installed library, shared and static.
set(lmsview_objects $<TARGET_OBJECTS:lms_engine> $<TARGET_OBJECTS:lms_formats> $<TARGET_OBJECTS:lms_protocol>
                    $<TARGET_OBJECTS:transport> $<TARGET_OBJECTS:platform>)
add_library(lmsview_shared SHARED ${lmsview_objects})
add_library(lmsview_static STATIC ${lmsview_objects})
foreach(t lmsview_shared lmsview_static)
  target_include_directories(${t} INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                            $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${t} PUBLIC Threads::Threads)
  target_compile_features(${t} INTERFACE cxx_std_20)
  if(WIN32)
    target_link_libraries(${t} PUBLIC ws2_32)
  endif()
endforeach()
# zstd is the library's own business; a program that links the static
# library needs it too.
target_link_libraries(lmsview_shared PRIVATE ${LMSVIEW_ZSTD_LIBRARY})
target_link_libraries(lmsview_static PUBLIC ${LMSVIEW_ZSTD_LIBRARY})
set_target_properties(lmsview_shared PROPERTIES OUTPUT_NAME lmsview VERSION ${PROJECT_VERSION}
                                                SOVERSION ${PROJECT_VERSION_MAJOR} EXPORT_NAME lmsview
                                                LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
if(NOT WIN32)
  # Only the public interface is exported: the objects are built with hidden
  # visibility (see the top-level CMakeLists.txt), and this script keeps out
  # what the toolchain would still export (inline template instances).
  target_link_options(lmsview_shared PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/lms/engine/lmsview.map)
  set_property(TARGET lmsview_shared APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/lms/engine/lmsview.map)
endif()
set_target_properties(lmsview_static PROPERTIES OUTPUT_NAME lmsview EXPORT_NAME lmsview_static)
if(WIN32)
  # lmsview.dll carries the C interface alone: a stable ABI for any language.
  # It lies beside lmsview.exe, and needs no other DLL.
  target_sources(lmsview_shared PRIVATE ${PROJECT_SOURCE_DIR}/lms/engine/lmsview.def)
  target_link_options(lmsview_shared PRIVATE -static-libgcc -static-libstdc++ -static)
  set_target_properties(lmsview_shared PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/app)
endif()
add_library(lmsview::lmsview ALIAS lmsview_shared)
add_library(lmsview::lmsview_static ALIAS lmsview_static)

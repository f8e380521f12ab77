# SPDX-License-Identifier: Apache-2.0
# The layers: platform <- transport <- lms/protocol <- lms/formats <- lms/engine <- app.
# A library sees its own headers and those of the libraries it links, and
# nothing above them: its include path is a folder under the build tree that
# holds links to its own source folders only (the PATHS, relative to the
# source tree), so an include of a higher layer does not compile.
function(lms_layer target)
  cmake_parse_arguments(L "" "" "PATHS" ${ARGN})
  set(root ${PROJECT_BINARY_DIR}/layers/${target})
  foreach(path IN LISTS L_PATHS)
    # include/lmsview/scan.h is seen as lmsview/scan.h
    string(REGEX REPLACE "^include/" "" seen ${path})
    get_filename_component(parent ${root}/${seen} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${root}/${seen})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${path} ${root}/${seen} SYMBOLIC COPY_ON_ERROR)
    endif()
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${root}>)
  else()
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
  endif()
endfunction()

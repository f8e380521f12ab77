# SPDX-License-Identifier: Apache-2.0
# The Python module is built for the interpreter that has numpy (its tests
# and its users need it at run time). On some machines the python3 first on
# PATH is a separate build without it (and Debian's numpy lives with
# /usr/bin/python3), so unless Python_EXECUTABLE is given the first
# candidate that imports numpy is taken.
if(NOT Python_EXECUTABLE)
  find_program(LMSVIEW_PATH_PYTHON NAMES python3)
  foreach(candidate ${LMSVIEW_PATH_PYTHON} /usr/bin/python3)
    if(candidate AND EXISTS ${candidate})
      execute_process(COMMAND ${candidate} -c "import numpy" RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
      if(NOT failed)
        set(Python_EXECUTABLE ${candidate} CACHE FILEPATH "The interpreter the Python module is built for")
        break()
      endif()
    endif()
  endforeach()
endif()
# The module hands its arrays to numpy through the buffer protocol: it builds
# without numpy and works with any numpy it meets.
find_package(Python 3.8 COMPONENTS Interpreter Development.Module)
set(PYBIND11_FINDPYTHON ON)
find_package(pybind11 CONFIG QUIET)
if(Python_FOUND AND pybind11_FOUND)
  message(STATUS "lmsview: the Python module is built for ${Python_EXECUTABLE}")
  add_subdirectory(python)
else()
  lmsview_left_out(LMSVIEW_PYTHON "no Python module: it needs python3-dev and pybind11-dev")
endif()

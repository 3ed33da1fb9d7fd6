# VARSILE_PYTHON: the Python module, on when pybind11 and NumPy are found.
# The interpreter is the one that imports both: the first of
# Python3_EXECUTABLE (if given), python3 on PATH and the system's own
# /usr/bin/python3, whose Debian packages a version manager's python3 on
# PATH cannot import.
if(NOT Python3_EXECUTABLE)
  find_program(path_python3 NAMES python3 NO_CACHE)
  foreach(candidate IN ITEMS ${path_python3} /usr/bin/python3)
    execute_process(COMMAND ${candidate} -c "import numpy, pybind11"
      RESULT_VARIABLE missing OUTPUT_QUIET ERROR_QUIET)
    if(missing EQUAL 0)
      set(Python3_EXECUTABLE ${candidate} CACHE FILEPATH "The Python the module is built for")
      break()
    endif()
  endforeach()
endif()

set(python_found OFF)
if(Python3_EXECUTABLE)
  find_package(Python3 COMPONENTS Interpreter Development.Module NumPy)
  if(Python3_FOUND)
    execute_process(COMMAND ${Python3_EXECUTABLE} -c "import pybind11; print(pybind11.get_cmake_dir())"
      OUTPUT_VARIABLE pybind11_hint OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    find_package(pybind11 CONFIG HINTS ${pybind11_hint})
    set(python_found ${pybind11_FOUND})
  endif()
endif()
# A sanitized module needs the sanitizer runtime preloaded into Python, so
# sanitized builds leave it out unless asked.
set(python_default ${python_found})
if(VARSILE_SANITIZE)
  set(python_default OFF)
endif()
option(VARSILE_PYTHON "Build the Python module (pybind11, NumPy)" ${python_default})
if(VARSILE_PYTHON AND NOT python_found)
  message(FATAL_ERROR "VARSILE_PYTHON needs a Python with NumPy and pybind11 (scripts/bootstrap installs them)")
endif()

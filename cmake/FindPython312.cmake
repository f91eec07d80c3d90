# Locates a CPython 3.12 interpreter that actually runs and reads its headers
# and extension suffix from it. A pyenv shim that exists but cannot run
# (because 3.12 is not the active pyenv version) is skipped, not trusted.
#
# Sets: PELORAND_PYTHON (interpreter), PELORAND_PYTHON_INCLUDE, PELORAND_EXT_SUFFIX,
# PELORAND_PYTHON_LIBRARY (the import library, used on Windows only).

# The fourth line, the import library, is needed on Windows only.
set(_probe "import os, sys, sysconfig; assert sys.version_info[:2] == (3, 12); print(sys.executable); print(sysconfig.get_paths()['include']); print(sysconfig.get_config_var('EXT_SUFFIX')); print(os.path.join(sys.base_prefix, 'libs', 'python312.lib').replace(os.sep, '/'))")

function(_pelorand_try_python candidate)
  if(DEFINED _pelorand_found OR NOT candidate)
    return()
  endif()
  execute_process(COMMAND "${candidate}" -c "${_probe}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    return()
  endif()
  string(REPLACE "\n" ";" lines "${out}")
  list(GET lines 0 exe)
  list(GET lines 1 inc)
  list(GET lines 2 suffix)
  list(GET lines 3 library)
  if(NOT EXISTS "${inc}/Python.h")
    message(STATUS "Skipping ${exe}: no Python.h under ${inc}")
    return()
  endif()
  set(_pelorand_found TRUE PARENT_SCOPE)
  set(PELORAND_PYTHON "${exe}" CACHE FILEPATH "CPython 3.12 interpreter" FORCE)
  set(PELORAND_PYTHON_INCLUDE "${inc}" CACHE PATH "CPython 3.12 headers" FORCE)
  set(PELORAND_EXT_SUFFIX "${suffix}" CACHE STRING "Extension module suffix" FORCE)
  set(PELORAND_PYTHON_LIBRARY "${library}" CACHE FILEPATH "CPython 3.12 import library (Windows)" FORCE)
endfunction()

# An explicit choice wins (a wheel build names the interpreter that runs it
# as Python_EXECUTABLE); then a python3.12 on PATH; then pyenv's 3.12.
if(NOT PELORAND_PYTHON AND Python_EXECUTABLE)
  set(PELORAND_PYTHON "${Python_EXECUTABLE}")
endif()
if(PELORAND_PYTHON)
  _pelorand_try_python("${PELORAND_PYTHON}")
  if(NOT DEFINED _pelorand_found)
    message(FATAL_ERROR "PELORAND_PYTHON=${PELORAND_PYTHON} is not a working CPython 3.12 with headers.")
  endif()
endif()

find_program(_py312_on_path NAMES python3.12 NO_CACHE)
_pelorand_try_python("${_py312_on_path}")

if(NOT DEFINED _pelorand_found)
  set(_pyenv_roots "$ENV{PYENV_ROOT}" "$ENV{HOME}/.pyenv")
  find_program(_pyenv NAMES pyenv HINTS "$ENV{PYENV_ROOT}/bin" "$ENV{HOME}/.pyenv/bin" NO_CACHE)
  if(_pyenv)
    execute_process(COMMAND "${_pyenv}" root OUTPUT_VARIABLE _root
                    ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    list(PREPEND _pyenv_roots "${_root}")
  endif()
  foreach(root IN LISTS _pyenv_roots)
    if(root)
      file(GLOB _candidates "${root}/versions/3.12*/bin/python3.12")
      list(SORT _candidates COMPARE NATURAL ORDER DESCENDING)
      foreach(c IN LISTS _candidates)
        _pelorand_try_python("${c}")
      endforeach()
    endif()
  endforeach()
endif()

if(NOT DEFINED _pelorand_found)
  message(FATAL_ERROR
    "No CPython 3.12 found. Looked for a python3.12 on PATH that runs, then for "
    "pyenv's versions/3.12*/bin/python3.12. Install CPython 3.12 with its headers "
    "(for example `pyenv install 3.12`), or pass -DPELORAND_PYTHON=/path/to/python3.12.")
endif()
message(STATUS "CPython 3.12: ${PELORAND_PYTHON} (headers ${PELORAND_PYTHON_INCLUDE})")

# Locates the CPython interpreter to build for, 3.12 or later, that actually
# runs, and reads its version, headers and extension suffix from it. A pyenv
# shim that exists but cannot run (because its version is not the active
# pyenv version) is skipped, not trusted.
#
# Sets: PELORAND_PYTHON (interpreter), PELORAND_PYTHON_VERSION (major.minor),
# PELORAND_PYTHON_INCLUDE, PELORAND_EXT_SUFFIX, PELORAND_PYTHON_LIBRARY (the
# import library, used on Windows only).

set(_pelorand_minimum 3.12)
# Written for any interpreter, Python 2 included, so that the refusal can say
# what was found. The last line, the import library, is needed on Windows only.
set(_probe "import os, platform, sys, sysconfig
v = sys.version_info
print(platform.python_implementation())
print('%d.%d' % (v[0], v[1]))
print(sys.executable)
print(sysconfig.get_paths()['include'])
print(sysconfig.get_config_var('EXT_SUFFIX'))
lib = 'python%d%d%s.lib' % (v[0], v[1], 't' if sysconfig.get_config_var('Py_GIL_DISABLED') else '')
print(os.path.join(getattr(sys, 'base_prefix', sys.prefix), 'libs', lib).replace(os.sep, '/'))")

# Accepts `candidate` if it is a CPython of the minimum version or later with
# its headers; otherwise leaves _pelorand_refused with the reason.
function(_pelorand_try_python candidate)
  if(DEFINED _pelorand_found OR NOT candidate)
    return()
  endif()
  execute_process(COMMAND "${candidate}" -c "${_probe}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REPLACE "\n" ";" lines "${out}")
  list(LENGTH lines count)
  if(NOT rc EQUAL 0 OR NOT count EQUAL 6)
    set(_pelorand_refused "it does not run as a Python interpreter" PARENT_SCOPE)
    return()
  endif()
  list(GET lines 0 implementation)
  list(GET lines 1 version)
  list(GET lines 2 exe)
  list(GET lines 3 inc)
  list(GET lines 4 suffix)
  list(GET lines 5 library)
  if(NOT implementation STREQUAL "CPython" OR version VERSION_LESS _pelorand_minimum)
    set(_pelorand_refused
        "it is ${implementation} ${version}; Pelorand needs CPython ${_pelorand_minimum} or later"
        PARENT_SCOPE)
    return()
  endif()
  if(NOT EXISTS "${inc}/Python.h")
    set(_pelorand_refused "it is CPython ${version} without its headers (no Python.h under ${inc})"
        PARENT_SCOPE)
    return()
  endif()
  set(_pelorand_found TRUE PARENT_SCOPE)
  set(PELORAND_PYTHON "${exe}" CACHE FILEPATH "CPython interpreter to build for" FORCE)
  set(PELORAND_PYTHON_VERSION "${version}" CACHE STRING "Its major.minor version" FORCE)
  set(PELORAND_PYTHON_INCLUDE "${inc}" CACHE PATH "Its headers" FORCE)
  set(PELORAND_EXT_SUFFIX "${suffix}" CACHE STRING "Its extension module suffix" FORCE)
  set(PELORAND_PYTHON_LIBRARY "${library}" CACHE FILEPATH "Its import library (Windows)" FORCE)
endfunction()

# An explicit choice wins (a wheel build names the interpreter that runs it
# as Python_EXECUTABLE), and may be any CPython from 3.12 on; then a
# python3.12 on PATH; then pyenv's 3.12.
if(NOT PELORAND_PYTHON AND Python_EXECUTABLE)
  set(PELORAND_PYTHON "${Python_EXECUTABLE}")
endif()
if(PELORAND_PYTHON)
  _pelorand_try_python("${PELORAND_PYTHON}")
  if(NOT DEFINED _pelorand_found)
    message(FATAL_ERROR "Cannot build for PELORAND_PYTHON=${PELORAND_PYTHON}: "
                        "${_pelorand_refused}.")
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
        if(NOT DEFINED _pelorand_found)
          message(STATUS "Skipping ${c}: ${_pelorand_refused}")
        endif()
      endforeach()
    endif()
  endforeach()
endif()

if(NOT DEFINED _pelorand_found)
  message(FATAL_ERROR
    "No CPython 3.12 found. Looked for a python3.12 on PATH that runs, then for "
    "pyenv's versions/3.12*/bin/python3.12. Install CPython 3.12 with its headers "
    "(for example `pyenv install 3.12`), or pass -DPELORAND_PYTHON=/path/to/python3.X "
    "for any CPython from 3.12 on.")
endif()
message(STATUS "CPython ${PELORAND_PYTHON_VERSION}: ${PELORAND_PYTHON} "
               "(headers ${PELORAND_PYTHON_INCLUDE})")

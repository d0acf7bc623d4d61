# SPDX-License-Identifier: MIT
# Fails when clang-format would change any C++ source or header of the project.
file(GLOB_RECURSE sources
  ${SOURCE_DIR}/include/*.h ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.cpp
  ${SOURCE_DIR}/tools/*.h ${SOURCE_DIR}/tools/*.cpp ${SOURCE_DIR}/tests/*.h
  ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/bench/*.cpp ${SOURCE_DIR}/bench/*.h
  ${SOURCE_DIR}/examples/*.cpp ${SOURCE_DIR}/bindings/*.cpp ${SOURCE_DIR}/bindings/*.h)
execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${sources}
  RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "clang-format would change these files:\n${errors}")
endif()

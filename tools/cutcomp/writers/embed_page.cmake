# SPDX-License-Identifier: MIT
# Turns the HTML report's page into a header of two string constants, the page before and
# after the line where the records go: cmake -DPAGE=<html> -DOUTPUT=<header> -P embed_page.cmake
file(READ "${PAGE}" page)
set(marker "<!-- records -->\n")
string(FIND "${page}" "${marker}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${PAGE}: no line '<!-- records -->'")
endif()
string(SUBSTRING "${page}" 0 ${at} head)
string(LENGTH "${marker}" marker_length)
math(EXPR after "${at} + ${marker_length}")
string(SUBSTRING "${page}" ${after} -1 tail)
foreach(part head tail)
  if("${${part}}" MATCHES "\\)page\"")
    message(FATAL_ERROR "${PAGE}: the text ')page\"' would end the string constant")
  endif()
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from ${PAGE} by embed_page.cmake; do not edit.\n"
  "#pragma once\n#include <string_view>\nnamespace cutcomp::cli {\n"
  "inline constexpr std::string_view HTML_REPORT_HEAD = R\"page(${head})page\";\n"
  "inline constexpr std::string_view HTML_REPORT_TAIL = R\"page(${tail})page\";\n"
  "}  // namespace cutcomp::cli\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)

# Turns glossary.json into a header holding it as one raw string literal,
# so the program carries its starter glossary without reading any file.
# Run with -DINPUT=<glossary.json> -DOUTPUT=<header>.
file(READ "${INPUT}" content)
set(delimiter "ruvo_glossary")
string(FIND "${content}" ")${delimiter}" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw-string delimiter )${delimiter}")
endif()
file(WRITE "${OUTPUT}.tmp"
  "// Generated from glossary.json by embed_glossary.cmake; do not edit.\n"
  "#pragma once\n\n#include <string_view>\n\n"
  "namespace ruvo::desktop::store {\n\n"
  "inline constexpr std::string_view kGlossaryJson = R\"${delimiter}(${content})${delimiter}\";\n\n"
  "}  // namespace ruvo::desktop::store\n")
# configure_file leaves an unchanged header alone, so nothing rebuilds needlessly.
configure_file("${OUTPUT}.tmp" "${OUTPUT}" COPYONLY)
file(REMOVE "${OUTPUT}.tmp")

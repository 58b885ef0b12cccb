# Turns the interface's files into one header holding each as a raw string
# literal, so the program serves its pages without reading any file.
# Run with -DSOURCE_DIR=<desktop/ui> -DFILES=<names separated by ;> -DOUTPUT=<header>.
set(delimiter "ruvo_ui")
set(entries "")
foreach(name IN LISTS FILES)
  file(READ "${SOURCE_DIR}/${name}" content)
  string(FIND "${content}" ")${delimiter}" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${name} contains the raw-string delimiter )${delimiter}")
  endif()
  string(APPEND entries "    {\"${name}\", R\"${delimiter}(${content})${delimiter}\"},\n")
endforeach()
file(WRITE "${OUTPUT}.tmp"
  "// Generated from desktop/ui by embed_ui.cmake; do not edit.\n"
  "#pragma once\n\n#include <string_view>\n\n"
  "namespace ruvo::desktop::ui {\n\n"
  "struct EmbeddedFile {\n  std::string_view name;\n  std::string_view bytes;\n};\n\n"
  "inline constexpr EmbeddedFile kUiFiles[] = {\n${entries}};\n\n"
  "}  // namespace ruvo::desktop::ui\n")
# configure_file leaves an unchanged header alone, so nothing rebuilds needlessly.
configure_file("${OUTPUT}.tmp" "${OUTPUT}" COPYONLY)
file(REMOVE "${OUTPUT}.tmp")

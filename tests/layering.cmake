# Fails when a source includes a header of a layer it may not look at, or a
# library links one:
#   src/:      common: nothing else;  platform, protocol: common;
#              client: no cli, mcp, bin;  cli and mcp: not each other, not bin.
#   desktop/:  commands -> client, service, answers, store
#              service  -> http, answers, store
#              http     -> answers, ui
#              answers  -> store, model, readers
#              store, model, readers, ui -> common, platform, protocol only
#              main.cpp -> commands (and client); no folder sees cli, mcp or bin.
# Every include names its folder ("store/store.hpp"): a bare "store.hpp" is a
# fault, so no include can pass for the same folder's. libcurl is the model
# client's alone.
# Run as: cmake -DROOT=<source tree> -P layering.cmake
set(layers common platform protocol client cli mcp bin)
set(allowed_common common)
set(allowed_platform common platform)
set(allowed_protocol common protocol)
set(allowed_client common platform protocol client)
set(allowed_cli common platform protocol client cli)
set(allowed_mcp common platform protocol client mcp)
set(allowed_bin common platform protocol client cli mcp bin)

set(desktop_folders commands service http answers store model readers ui)
set(below_desktop common platform protocol)
set(allowed_store ${below_desktop} store)
set(allowed_model ${below_desktop} model)
set(allowed_readers ${below_desktop} readers)
set(allowed_ui ${below_desktop} ui)
set(allowed_answers ${below_desktop} answers store model readers)
set(allowed_http ${below_desktop} http answers ui)
set(allowed_service ${below_desktop} service http answers store)
set(allowed_commands ${below_desktop} client commands service answers store)
set(allowed_main ${below_desktop} client commands)

set(faults "")

function(check_file file layer)
  file(RELATIVE_PATH shown ${ROOT} ${file})
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*<curl/" AND NOT shown MATCHES "^desktop/model/")
      set(faults "${faults}\n  ${shown} includes libcurl, which only desktop/model/ uses" PARENT_SCOPE)
      continue()
    endif()
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"")
      continue()
    endif()
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
    if(NOT header MATCHES "/")
      set(faults "${faults}\n  ${shown} includes \"${header}\" without its folder" PARENT_SCOPE)
      continue()
    endif()
    string(REGEX MATCH "^[^/]+" top "${header}")
    list(FIND allowed_${layer} "${top}" ok)
    if(ok EQUAL -1)
      set(faults "${faults}\n  ${shown} (${layer}) includes ${header}" PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

# The libraries a folder's CMakeLists.txt links, by the folder they are of.
function(check_links cmake_file layer)
  file(RELATIVE_PATH shown ${ROOT} ${cmake_file})
  file(READ ${cmake_file} text)
  string(REGEX MATCHALL "target_link_libraries\\([^)]*\\)" calls "${text}")
  foreach(call IN LISTS calls)
    string(REGEX MATCHALL "ruvo_[a-z_]+" names "${call}")
    list(REMOVE_AT names 0)  # the library being linked
    foreach(name IN LISTS names)
      string(REGEX REPLACE "^ruvo_(gui_)?" "" folder "${name}")
      list(FIND allowed_${layer} "${folder}" ok)
      if(ok EQUAL -1)
        set(faults "${faults}\n  ${shown} (${layer}) links ${name}" PARENT_SCOPE)
      endif()
    endforeach()
    if(call MATCHES "CURL::" AND NOT layer STREQUAL "model")
      set(faults "${faults}\n  ${shown} links libcurl, which only desktop/model/ uses" PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

foreach(layer IN LISTS layers)
  file(GLOB_RECURSE files ${ROOT}/src/${layer}/*.hpp ${ROOT}/src/${layer}/*.cpp)
  foreach(file IN LISTS files)
    check_file(${file} ${layer})
  endforeach()
endforeach()

foreach(folder IN LISTS desktop_folders)
  file(GLOB_RECURSE files ${ROOT}/desktop/${folder}/*.hpp ${ROOT}/desktop/${folder}/*.cpp)
  foreach(file IN LISTS files)
    check_file(${file} ${folder})
  endforeach()
  check_links(${ROOT}/desktop/${folder}/CMakeLists.txt ${folder})
endforeach()
check_file(${ROOT}/desktop/main.cpp main)

# Nothing else lives at desktop/'s top: every source is in a folder with
# its own library and its own rules.
file(GLOB loose ${ROOT}/desktop/*.hpp ${ROOT}/desktop/*.cpp)
list(REMOVE_ITEM loose ${ROOT}/desktop/main.cpp)
foreach(file IN LISTS loose)
  file(RELATIVE_PATH shown ${ROOT} ${file})
  set(faults "${faults}\n  ${shown} is in no folder")
endforeach()

# ... and every folder there is one of the layers above, so none escapes them.
file(GLOB entries LIST_DIRECTORIES true ${ROOT}/desktop/*)
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY ${entry})
    get_filename_component(name ${entry} NAME)
    list(FIND desktop_folders "${name}" known)
    if(known EQUAL -1)
      set(faults "${faults}\n  desktop/${name}/ is no layer of the local service")
    endif()
  endif()
endforeach()

if(faults)
  message(FATAL_ERROR "includes and libraries that look up or sideways:${faults}")
endif()
message(STATUS "every include and library looks down")

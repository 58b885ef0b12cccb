# Cross-builds the Windows x86-64 programs with mingw-w64 (Debian's
# g++-mingw-w64-x86-64-posix). Use:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RUVO_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model: std::thread and friends work, and with static
# linking winpthread ends up inside the program, not beside it.
set(CMAKE_C_COMPILER ${RUVO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RUVO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${RUVO_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RUVO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No DLL of ours beside the programs: the C++ runtime, libgcc and winpthread
# are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# nlohmann/json is header-only, so the build machine's copy serves any target.
# Its package puts all of /usr/include on the include path, where glibc's C
# headers would shadow mingw's; so a package of our own is written that takes
# the library's targets and version check but shows only the nlohmann folder.
foreach(dir /usr/share/cmake/nlohmann_json /usr/lib/cmake/nlohmann_json /usr/share/nlohmann_json/cmake)
  if(EXISTS ${dir}/nlohmann_jsonTargets.cmake AND EXISTS /usr/include/nlohmann/json.hpp)
    set(RUVO_HOST_JSON_PACKAGE ${dir})
    break()
  endif()
endforeach()
if(RUVO_HOST_JSON_PACKAGE AND CMAKE_BINARY_DIR)
  set(_ruvo_json ${CMAKE_BINARY_DIR}/mingw-host-packages/nlohmann_json)
  if(NOT EXISTS ${_ruvo_json}/include/nlohmann)
    file(MAKE_DIRECTORY ${_ruvo_json}/include)
    file(CREATE_LINK /usr/include/nlohmann ${_ruvo_json}/include/nlohmann SYMBOLIC)
  endif()
  file(WRITE ${_ruvo_json}/nlohmann_jsonConfig.cmake
"include(FindPackageHandleStandardArgs)
set(nlohmann_json_CONFIG \${CMAKE_CURRENT_LIST_FILE})
find_package_handle_standard_args(nlohmann_json CONFIG_MODE)
if(NOT TARGET nlohmann_json::nlohmann_json)
  include(${RUVO_HOST_JSON_PACKAGE}/nlohmann_jsonTargets.cmake)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES \${CMAKE_CURRENT_LIST_DIR}/include)
endif()
")
  file(WRITE ${_ruvo_json}/nlohmann_jsonConfigVersion.cmake
    "include(${RUVO_HOST_JSON_PACKAGE}/nlohmann_jsonConfigVersion.cmake)\n")
  set(nlohmann_json_DIR ${_ruvo_json} CACHE PATH "nlohmann/json package for the mingw-w64 build" FORCE)
  unset(_ruvo_json)
endif()

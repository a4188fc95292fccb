# Checks every #include of src/ and host/ against the layer order:
#   cmake -DROOT=<checkout> -P cmake/check_layering.cmake
# Every layer sees all of src/ on its include path, so a header-only template would reach
# a higher layer unnoticed by the linker; this reads the includes themselves. Each include
# that breaks a rule is printed as "file:line: rule"; any such include fails the run.
#
# src/<folder>/ includes only from itself and the folders before it in HXA_LAYER_ORDER;
# host/ knows the plugin only through src/abi/. tools/ links the library by design and is
# not checked.
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<checkout> -P check_layering.cmake")
endif()
cmake_path(ABSOLUTE_PATH ROOT NORMALIZE)
string(REGEX REPLACE "/$" "" ROOT "${ROOT}")

set(HXA_LAYER_ORDER abi util log binding formats http plugin player_messaging)
list(JOIN HXA_LAYER_ORDER " < " order_text)

# Files allowed to include a higher layer, as FILE=FOLDER.
# Temporary: export.cpp builds the plugin's export from player_messaging's module and
# belongs in src/player_messaging/; this entry goes when it moves there.
set(HXA_LAYER_EXCEPTIONS "src/plugin/export.cpp=player_messaging")

# The project file an include names, relative to ROOT, or "" for a header outside the tree.
function(resolve_include file name quoted result)
  get_filename_component(dir "${ROOT}/${file}" DIRECTORY)
  set(candidates "${ROOT}/src/${name}" "${ROOT}/${name}")
  if(quoted)
    list(PREPEND candidates "${dir}/${name}")
  endif()
  foreach(candidate IN LISTS candidates)
    if(EXISTS "${candidate}" AND NOT IS_DIRECTORY "${candidate}")
      cmake_path(NORMAL_PATH candidate)
      cmake_path(RELATIVE_PATH candidate BASE_DIRECTORY "${ROOT}")
      set(${result} "${candidate}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${result} "" PARENT_SCOPE)
endfunction()

# The rule `target` breaks when `file` (in layer `layer`) includes it, or "".
function(broken_rule file layer target result)
  set(rule "")
  if(target MATCHES "^src/([^/]+)/")
    set(target_layer ${CMAKE_MATCH_1})
  else()
    set(target_layer "")
  endif()
  if(layer STREQUAL "host")
    if(NOT target MATCHES "^(host|src/abi)/")
      set(rule "host/ knows the plugin only through src/abi/")
    endif()
  elseif(target_layer STREQUAL "")
    set(rule "src/ includes nothing outside src/")
  else()
    list(FIND HXA_LAYER_ORDER ${layer} own)
    list(FIND HXA_LAYER_ORDER ${target_layer} other)
    if(other LESS 0)
      set(rule "src/${target_layer}/ has no place in the layer order (${order_text})")
    elseif(other GREATER own AND NOT "${file}=${target_layer}" IN_LIST HXA_LAYER_EXCEPTIONS)
      set(rule "src/${layer}/ includes only from itself and the folders before it \
(${order_text})")
    endif()
  endif()
  set(${result} "${rule}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE files RELATIVE "${ROOT}" LIST_DIRECTORIES false
  "${ROOT}/src/*.h" "${ROOT}/src/*.hpp" "${ROOT}/src/*.cpp" "${ROOT}/src/*.cc" "${ROOT}/src/*.inc"
  "${ROOT}/host/*.h" "${ROOT}/host/*.hpp" "${ROOT}/host/*.cpp" "${ROOT}/host/*.cc" "${ROOT}/host/*.inc")
list(SORT files)
set(violations 0)
foreach(file IN LISTS files)
  if(file MATCHES "^src/([^/]+)/")
    set(layer ${CMAKE_MATCH_1})
    if(NOT layer IN_LIST HXA_LAYER_ORDER)
      message("${file}:1: src/${layer}/ has no place in the layer order (${order_text})")
      math(EXPR violations "${violations} + 1")
      continue()
    endif()
  elseif(file MATCHES "^host/")
    set(layer host)
  else()
    continue()  # a file directly in src/ (its CMakeLists.txt) belongs to no layer
  endif()
  file(READ "${ROOT}/${file}" text)
  # One list element per line: characters that CMake's list splitting treats specially
  # cannot occur in an include line, so they are blanked first.
  string(REGEX REPLACE "[][;\\\\]" " " text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
      continue()
    endif()
    set(quoted OFF)
    if(CMAKE_MATCH_1 STREQUAL "\"")
      set(quoted ON)
    endif()
    set(name "${CMAKE_MATCH_2}")
    resolve_include("${file}" "${name}" ${quoted} target)
    if(target STREQUAL "")
      continue()
    endif()
    broken_rule("${file}" ${layer} "${target}" rule)
    if(NOT rule STREQUAL "")
      message("${file}:${number}: includes ${target}: ${rule}")
      math(EXPR violations "${violations} + 1")
    endif()
  endforeach()
endforeach()

list(LENGTH files count)
if(violations GREATER 0)
  message(FATAL_ERROR "layering: ${violations} violation(s) of the layer order")
endif()
message("layering: ${count} files of src/ and host/ follow the layer order")

# One library per source folder, linked in layer order. Each folder's objects are
# compiled once: hxa_<name> (a static library with its lower layers) serves the
# unit tests of that folder, hxa_core (every folder in one static library) serves
# the plugin, the tools and the end-to-end tests.
include(${CMAKE_CURRENT_LIST_DIR}/layers.cmake)
set(HXA_CORE_OBJECTS "")

# Files of src/ that belong to the exported library only, never to hxa_core.
set(HXA_EXPORT_ONLY
  ${PROJECT_SOURCE_DIR}/src/player_messaging/export.cpp
  ${PROJECT_SOURCE_DIR}/src/plugin/operator_new.cpp)

function(hxa_layer name)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp)
  list(REMOVE_ITEM sources ${HXA_EXPORT_ONLY})
  if(NOT sources)
    # A folder that has no sources yet still provides its (empty) layer.
    set(sources ${PROJECT_BINARY_DIR}/empty_${name}.cpp)
    file(WRITE ${sources} "// empty layer\n")
  endif()
  add_library(hxa_${name}_obj OBJECT ${sources})
  target_include_directories(hxa_${name}_obj PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_include_directories(hxa_${name}_obj SYSTEM PUBLIC ${RAPIDJSON_INCLUDE_DIR})
  target_link_libraries(hxa_${name}_obj PUBLIC hxa_yaml Threads::Threads ${ARGN})
  hxa_warnings(hxa_${name}_obj)
  add_library(hxa_${name} STATIC $<TARGET_OBJECTS:hxa_${name}_obj>)
  target_link_libraries(hxa_${name} PUBLIC hxa_${name}_obj)
  # Lower layers: their static libraries follow ours on the link line.
  foreach(lower IN LISTS ARGN)
    if(TARGET ${lower})
      target_link_libraries(hxa_${name} PUBLIC ${lower})
    endif()
  endforeach()
  set(HXA_CORE_OBJECTS ${HXA_CORE_OBJECTS} $<TARGET_OBJECTS:hxa_${name}_obj> PARENT_SCOPE)
endfunction()

# Every layer with sources, in layer order, each linked to the one before it.
macro(hxa_layers)
  set(lower "")
  foreach(layer IN LISTS HXA_LAYER_ORDER)
    if(NOT layer STREQUAL "abi")
      hxa_layer(${layer} ${lower})
      set(lower hxa_${layer})
    endif()
  endforeach()
endmacro()

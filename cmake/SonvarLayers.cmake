# A layer is every .cpp in its folder (and the given subfolders) built as one
# static library, less those SONVAR_LAYER_SKIP names; the repository root is the include root ("base/log.h").
# A layer with no sources yet is an interface library, so that its users can
# already name it.
function(sonvar_layer name folder)
  set(sources)
  foreach(dir ${folder} ${ARGN})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  # Sources a configuration leaves out (SONVAR_LAYER_SKIP, relative to the root).
  foreach(skipped ${SONVAR_LAYER_SKIP})
    list(REMOVE_ITEM sources ${CMAKE_SOURCE_DIR}/${skipped})
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
  endif()
endfunction()

# Links a layer to what it builds on, whichever kind of library it is.
function(sonvar_layer_link name)
  get_target_property(type ${name} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_link_libraries(${name} INTERFACE ${ARGN})
  else()
    target_link_libraries(${name} PUBLIC ${ARGN})
  endif()
endfunction()

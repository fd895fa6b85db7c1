# A layer is every .cpp in its folder (and the given subfolders) built as one
# static library; the repository root is the include root ("base/log.h").
function(sonvar_layer name folder)
  set(sources)
  foreach(dir ${folder} ${ARGN})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
endfunction()

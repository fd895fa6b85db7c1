# Unity build: the layers compile their sources eight to a unit, so that
# the headers they share are read and their templates made once a unit
# instead of once a file (a clean build spent most of its time there). A
# source whose file-local names (in an anonymous namespace) clash with
# another source's of its layer ("redefinition of ... {anonymous}::kBorder")
# is compiled alone: list it in SONVAR_UNITY_ALONE (relative to the root).
# SONVAR_UNITY=OFF compiles file by file, which also shows a source that
# leans on what another one of its unit included.
option(SONVAR_UNITY "Compile the layers' sources in units of eight" ON)
set(SONVAR_UNITY_ALONE
  audio/player_channel.cpp audio/playback_channels.cpp
  base/pref.cpp
  device/models/orvel_config.cpp device/models/orvel_info.cpp device/models/orvel_zones.cpp
  device/models/tovik_config_parse.cpp device/models/zone_binding.cpp
  gui/about_dialog.cpp gui/property_panel_line_control.cpp gui/scheduler_store.cpp
  gui/source_microphone_panel.cpp gui/source_playlist_panel.cpp gui/source_scheduler_editor.cpp gui/ui.cpp
  gui/layout/main_frame.cpp gui/layout/property_device_panel.cpp gui/layout/settings_dialog.cpp
  gui/layout/source_device_panel.cpp gui/layout/source_playlist_panel.cpp gui/layout/source_scheduler_panel.cpp
  tools/simulator/control_commands.cpp tools/simulator/equalizer_store.cpp tools/simulator/line_control_store.cpp
  tools/simulator/orvel_config_model.cpp tools/simulator/tovik_config_model.cpp tools/simulator/tovik_zone_model.cpp)

# Makes <target> a unity build when SONVAR_UNITY is on; call it from the
# folder that made the target.
function(sonvar_unity target)
  if(NOT SONVAR_UNITY)
    return()
  endif()
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  foreach(alone ${SONVAR_UNITY_ALONE})
    set_source_files_properties(${CMAKE_SOURCE_DIR}/${alone} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endforeach()
endfunction()

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
    sonvar_unity(${name})
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

# Precompiled headers. The standard library, boost, wx and gtest headers took
# about half of a source file's compile time; each family of targets
# below compiles them once and its other targets reuse that header. A family
# is a set of targets built with the same flags and definitions (GCC takes a
# precompiled header only where they agree, and warns through -Winvalid-pch
# where they do not), so the families are:
#   core     - the layers and tools without wx, at the configuration's level
#   wx       - the GUI layers, which see wx's definitions
#   test     - the test programs without wx (built at -Og)
#   test_wx  - the GUI test programs
# Only outside headers are listed: ours change too often to be worth it, and
# a header listed here is seen first by every source of the family, so none
# may define a macro that one of our sources could trip over (X11's are left
# out for that reason). SONVAR_PCH=OFF builds without them, which also shows
# a source that forgot an include.
option(SONVAR_PCH "Precompile the standard, boost, wx and gtest headers" ON)

set(sonvar_pch_core
  <atomic> <chrono> <condition_variable> <cstdint> <cstdio> <cstring> <functional> <map> <memory>
  <mutex> <optional> <set> <sstream> <string> <thread> <variant> <vector>
  <boost/container/small_vector.hpp> <boost/date_time/posix_time/ptime.hpp> <boost/format.hpp>
  <boost/function.hpp> <boost/shared_ptr.hpp> <boost/thread/recursive_mutex.hpp>
  <boost/thread/thread.hpp> <boost/weak_ptr.hpp>)
set(sonvar_pch_wx_only
  <wx/button.h> <wx/choice.h> <wx/dialog.h> <wx/listctrl.h> <wx/radiobox.h> <wx/sizer.h>
  <wx/spinctrl.h> <wx/stattext.h> <wx/textctrl.h> <wx/weakref.h>)
set(sonvar_pch_test_only
  <ctime> <deque> <fstream> <regex> <boost/asio/io_context.hpp> <boost/asio/ip/udp.hpp>
  <boost/asio/steady_timer.hpp> <boost/asio/strand.hpp> <boost/make_shared.hpp> <gtest/gtest.h>)
set(sonvar_pch_test_wx_only
  <libconfig.h++> <wx/app.h> <wx/bmpbuttn.h> <wx/checkbox.h> <wx/combobox.h> <wx/evtloop.h>
  <wx/frame.h> <wx/menu.h> <wx/notebook.h> <wx/odcombo.h> <wx/slider.h> <wx/statbmp.h>
  <wx/statline.h> <wx/tglbtn.h> <wx/timer.h>)

set(sonvar_pch_core_headers ${sonvar_pch_core})
set(sonvar_pch_wx_headers ${sonvar_pch_core} ${sonvar_pch_wx_only})
set(sonvar_pch_test_headers ${sonvar_pch_core} ${sonvar_pch_test_only})
set(sonvar_pch_test_wx_headers ${sonvar_pch_core} ${sonvar_pch_test_only} ${sonvar_pch_wx_only}
  ${sonvar_pch_test_wx_only})

# Gives <target> its family's precompiled header: the first target of a
# family compiles it, the others reuse that one. A target with no sources of
# its own (an interface library) is left alone.
function(sonvar_precompile target family)
  if(NOT SONVAR_PCH)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  get_property(donor GLOBAL PROPERTY SONVAR_PCH_DONOR_${family})
  if(donor)
    target_precompile_headers(${target} REUSE_FROM ${donor})
  else()
    target_precompile_headers(${target} PRIVATE ${sonvar_pch_${family}_headers})
    set_property(GLOBAL PROPERTY SONVAR_PCH_DONOR_${family} ${target})
  endif()
endfunction()

# A family whose first target should not wait for anything but the libraries
# its headers need gets a target of its own that only compiles the header.
function(sonvar_precompile_anchor target family)
  if(NOT SONVAR_PCH)
    return()
  endif()
  set(anchor ${CMAKE_CURRENT_BINARY_DIR}/${target}.cpp)
  if(NOT EXISTS ${anchor})
    file(WRITE ${anchor} "// The precompiled header's own object; nothing links it.\n")
  endif()
  add_library(${target} OBJECT ${anchor})
  target_link_libraries(${target} PRIVATE ${ARGN})
  sonvar_precompile(${target} ${family})
endfunction()

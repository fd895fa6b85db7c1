#pragma once

#include <wx/debug.h>
#include <wx/thread.h>

/// Window-class operations that touch a control start with this: controls
/// belong to the GUI thread, and a worker must hand its work over through
/// the GUI-thread invoker instead. A failed check is a wx assertion, which
/// fails the running test in the test programs.
#define FRM_ASSERT_GUI_THREAD() wxASSERT_MSG(wxIsMainThread(), "called off the GUI thread")

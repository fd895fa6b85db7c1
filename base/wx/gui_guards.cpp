#include "base/wx/gui_guards.h"

#include <wx/thread.h>

#include "base/check.h"
#include "base/log.h"

namespace frm {

GuiLocker::GuiLocker() : m_onMainThread(wxThread::IsMain()) {
    LOG_TRACE2(L"gui thread is main=%1%", m_onMainThread ? L"true" : L"false");
    if (!m_onMainThread) {
        wxMutexGuiEnter();
        m_locked = true;
    }
}

void GuiLocker::unlock() {
    LOG_TRACE3(L"");
    if (!m_onMainThread && m_locked) {
        wxMutexGuiLeave();
        m_locked = false;
    }
}

GuiLocker::~GuiLocker() {
    LOG_TRACE3(L"");
    if (m_locked) wxMutexGuiLeave();
}

GuiFreezer::GuiFreezer(wxWindow* window) : m_window(window) {
    LOG_TRACE2(L"freeze gui window");
    debug::throwIfFalse(window != nullptr, SV_PLACE);
    m_window->Freeze();
    m_frozen = true;
}

GuiFreezer::~GuiFreezer() {
    LOG_TRACE3(L"");
    if (m_frozen) m_window->Thaw();
}

}  // namespace frm

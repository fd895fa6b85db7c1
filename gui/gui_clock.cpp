#include "gui/gui_clock.h"

#include <wx/datetime.h>
#include <wx/stattext.h>
#include <wx/thread.h>

#include "base/dbg.h"
#include "base/log.h"
#include "gui/gui_thread.h"

namespace frm {

GuiClock* GuiClock::s_instance = nullptr;

namespace {

/// Only a changed text is written: setting a label relays out its parent.
void setIfChanged(wxStaticText* label, const wxString& text) {
    if (label->GetLabel() != text) label->SetLabel(text);
}

}  // namespace

GuiClock::GuiClock(wxStaticText* timeLabel, wxStaticText* dateLabel)
    : m_timeLabel(timeLabel), m_dateLabel(dateLabel) {
    m_timer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { tick(); });
}

void GuiClock::createInstance(wxStaticText* timeLabel, wxStaticText* dateLabel, std::chrono::milliseconds period) {
    FRM_ASSERT_GUI_THREAD();
    if (s_instance != nullptr) {
        LOG_WARN(L"The GUI clock already runs");
        return;
    }
    if (timeLabel == nullptr || dateLabel == nullptr)
        dbg_abort("Couldn't create clock thread!", "frm::GuiClock::createInstance");
    auto* clock = new GuiClock(timeLabel, dateLabel);
    if (!clock->m_timer.Start(static_cast<int>(period.count())))
        dbg_abort("Couldn't run thread!", "frm::GuiClock::createInstance");
    s_instance = clock;
    clock->tick();
}

void GuiClock::destroyInstance() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE3(L"%1%", L"frm::GuiClock::destroyInstance");
    GuiClock* clock = s_instance;
    s_instance = nullptr;
    if (clock == nullptr) return;
    clock->m_timer.Stop();
    delete clock;
}

bool GuiClock::exists() { return s_instance != nullptr; }

void GuiClock::tick() {
    FRM_ASSERT_GUI_THREAD();
    const wxDateTime now = wxDateTime::Now();
    setIfChanged(m_timeLabel, now.FormatTime());
    setIfChanged(m_dateLabel, now.Format("%d.%m.%Y"));
}

}  // namespace frm

#include "gui/scenario_dialog.h"

#include "base/check.h"
#include "base/log.h"
#include "device/memory/audio_control.h"
#include "gui/end_dialog.h"
#include "gui/gui_thread.h"
#include "gui/number_field.h"
#include "gui/ui.h"

namespace frm {

ScenarioDialog::ScenarioDialog(wxWindow* parent, boost::shared_ptr<device::memory::IAudioControl> audio)
    : fb::ScenarioDialog(parent, wxID_ANY, L"Добавить сообщение", wxDefaultPosition, wxSize(545, 304),
                         wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_audio(std::move(audio)) {
    debug::throwIfFalse(m_audio != nullptr, "frm::ScenarioDialog::ScenarioDialog");
    int number = 0;
    for (const device::memory::FragmentInfo& info : m_audio->getFragments()) {
        const wxString item = wxString::Format(L"%i. %s", ++number, info.title);
        gong->Append(item);
        fragment->Append(item);
        m_ids.push_back(info.id);
    }
}

void ScenarioDialog::fragmentOnChoice(wxCommandEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::ScenarioDialog::fragmentOnChoice");
    FRM_ASSERT_GUI_THREAD();
    event.Skip();
    const int chosen = fragment->GetSelection();
    if (chosen == wxNOT_FOUND) return;
    const wxString typed = name->GetValue();
    if (!typed.empty() && typed != m_lastAutoName) return;
    m_lastAutoName = m_audio->getFragmentAt(m_ids.at(static_cast<std::size_t>(chosen))).title;
    name->ChangeValue(m_lastAutoName);
}

void ScenarioDialog::saveOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::ScenarioDialog::saveOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    const int gongItem = gong->GetSelection();
    const int fragmentItem = fragment->GetSelection();
    if (gongItem == wxNOT_FOUND || fragmentItem == wxNOT_FOUND) {
        ui::messageBox(L"Необходимо выбрать гонг и фрагмент", L"Внимание", wxOK | wxCENTRE);
        return;
    }
    const std::optional<int> period = takeNumber(*repeat, L"Повторять каждые (сек)");
    if (!period) return;
    m_audio->addScenario(m_ids.at(static_cast<std::size_t>(gongItem)),
                         m_ids.at(static_cast<std::size_t>(fragmentItem)),
                         static_cast<std::uint16_t>(*period), name->GetValue().ToStdWstring());
    endDialog(*this, wxID_OK);
}

void ScenarioDialog::cancelOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::ScenarioDialog::cancelOnButtonClick");
    endDialog(*this, wxID_CANCEL);
}

}  // namespace frm

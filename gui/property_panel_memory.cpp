// The audio-memory page, the equalizer, the line check, the reboot and the
// dependent check boxes of the sources page.

#include "base/log.h"
#include "device/memory/audio_control.h"
#include "gui/property_device_panel.h"

namespace frm {

void PropertyDevicePanel::listCtrlAudioFragmentOnRightDown(wxMouseEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::listCtrlAudioFragmentOnRightDown");
    // The menu is built on the button's release; the opener that runs next
    // finds it empty and shows nothing.
    for (const int id : {ID_MENU_FRAGMENT_PLAY, ID_MENU_FRAGMENT_STOP, ID_MENU_FRAGMENT_ADD,
                         ID_MENU_FRAGMENT_SAVE, ID_MENU_FRAGMENT_DELETE})
        if (menuFragment->FindItem(id) != nullptr) menuFragment->Remove(id);
    event.Skip();
}
void PropertyDevicePanel::listCtrlAudioFragmentOnListItemDeselected(wxListEvent& event) { event.Skip(); }
void PropertyDevicePanel::listCtrlAudioFragmentOnListItemSelected(wxListEvent& event) { event.Skip(); }
void PropertyDevicePanel::listCtrlAudioFragmentOnRightUp(wxMouseEvent& event) { event.Skip(); }
void PropertyDevicePanel::menuFragmentPlayOnSelection(wxCommandEvent&) {}
void PropertyDevicePanel::menuAudioStopOnSelection(wxCommandEvent&) {}
void PropertyDevicePanel::menuFragmentAddOnSelection(wxCommandEvent&) {}
void PropertyDevicePanel::menuFragmentSaveOnSelection(wxCommandEvent&) {}
void PropertyDevicePanel::menuFragmentDeleteOnSelection(wxCommandEvent&) {}
void PropertyDevicePanel::listCtrlAudioScenarioOnListItemDeselected(wxListEvent& event) { event.Skip(); }
void PropertyDevicePanel::listCtrlAudioScenarioOnListItemSelected(wxListEvent& event) { event.Skip(); }
void PropertyDevicePanel::listCtrlAudioScenarioOnRightDown(wxMouseEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::listCtrlAudioScenarioOnRightDown");
    for (const int id :
         {ID_MENU_SCENARIO_PLAY, ID_MENU_SCENARIO_STOP, ID_MENU_SCENARIO_ADD, ID_MENU_SCENARIO_DELETE})
        if (menuScenario->FindItem(id) != nullptr) menuScenario->Remove(id);
    event.Skip();
}
void PropertyDevicePanel::listCtrlAudioScenarioOnRightUp(wxMouseEvent& event) { event.Skip(); }
void PropertyDevicePanel::menuScenarioAddOnSelection(wxCommandEvent&) {}
void PropertyDevicePanel::menuScenarioDeleteOnSelection(wxCommandEvent&) {}
void PropertyDevicePanel::menuScenarioPlayOnSelection(wxCommandEvent&) {}
void PropertyDevicePanel::audioMemoryOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::clearMemory(wxCommandEvent&) {}
void PropertyDevicePanel::revertChanges(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::revertChanges");
    if (m_audioControl) {
        m_audioControl->revertChanges();
        m_fragmentTexts.assign(m_audioControl->getFragments().size(), std::wstring());
    }
    m_audioSelection = 0xFFFFFFFF;
    enableEditButtons(false);
}
void PropertyDevicePanel::saveImageMemory(wxCommandEvent&) {}
void PropertyDevicePanel::loadImageMemory(wxCommandEvent&) {}
void PropertyDevicePanel::onCheckBoxEqualizer(wxCommandEvent&) {}
void PropertyDevicePanel::onLeftUpTrebleSlider(wxMouseEvent& event) { event.Skip(); }
void PropertyDevicePanel::onLeftUpBassSlider(wxMouseEvent& event) { event.Skip(); }
void PropertyDevicePanel::onBandSlider(wxMouseEvent& event) { event.Skip(); }
void PropertyDevicePanel::onBandSliderScroll(wxScrollEvent& event) { event.Skip(); }
void PropertyDevicePanel::resetEqOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::buttonSetLineOnClick(wxCommandEvent&) {}
void PropertyDevicePanel::rebootOnClick(wxCommandEvent&) {}
void PropertyDevicePanel::onCheckBoxIsTestZarno(wxCommandEvent&) {}
void PropertyDevicePanel::onCheckBoxSource(wxCommandEvent&) {}
void PropertyDevicePanel::forwardStreamOnCheckBox(wxCommandEvent& event) { onCheckBoxSource(event); }

void PropertyDevicePanel::loadListCtrlAudioFragment() {}
void PropertyDevicePanel::loadListCtrlAudioScenario() {}

}  // namespace frm

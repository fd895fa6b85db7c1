#pragma once

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/radiobox.h>
#include <wx/scrolwin.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/spinctrl.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include "gui/layout/event_connections.h"
#include "gui/layout/number_spin.h"

namespace frm {
namespace fb {

/// Layout of the device property editor: a notebook of ten pages ("Общие",
/// "Аудио память", "Сеть", "Зарно", "Источники", "Линия", "Ключи", "Зоны
/// трансляции", "Связанные консоли", "Отладочные сообщения") above a bar
/// with the device's title and the buttons "&Применить", "&Отмена" and
/// "&Закрыть". Builds the controls with their initial contents (and the
/// design-time sample rows of the lists, which the window class hides or
/// replaces), the three popup menus of the audio-memory page, and routes the
/// events to the 75 handler operations below (132 connections, the 13 menu
/// items bound on their menus); frm::PropertyDevicePanel implements them.
///
/// Window ids run from 1000 in declaration order: the pages 1000, 1001,
/// 1015, 1023 and 1027-1032, the menu items 1002-1014, the network fields
/// 1016-1022 and the Zarno fields 1024-1026; everything else has wxID_ANY.
/// GUI thread only.
class PropertyDevicePanel : public wxPanel {
public:
    enum {
        ID_PAGE_COMMON = 1000,
        ID_PAGE_AUDIO_MEMORY,
        ID_MENU_FRAGMENT_PLAY,
        ID_MENU_FRAGMENT_STOP,
        ID_MENU_FRAGMENT_ADD,
        ID_MENU_FRAGMENT_SAVE,
        ID_MENU_FRAGMENT_DELETE,
        ID_MENU_SCENARIO_ADD,
        ID_MENU_SCENARIO_DELETE,
        ID_MENU_SCENARIO_PLAY,
        ID_MENU_SCENARIO_STOP,
        ID_MENU_CLEAR_MEMORY,
        ID_MENU_REVERT_CHANGES,
        ID_MENU_SAVE_IMAGE,
        ID_MENU_LOAD_IMAGE,
        ID_PAGE_NETWORK,
        ID_DHCP,
        ID_IP,
        ID_MASK,
        ID_GATEWAY,
        ID_MULTICAST_IP,
        ID_ALLOW_IP,
        ID_ALLOWED_IP,
        ID_PAGE_ZARNO,
        ID_ZARNO_ADDRESS,
        ID_RELAY_EVENTS,
        ID_IS_TEST_ZARNO,
        ID_PAGE_SOURCE,
        ID_PAGE_LINE_CONTROL,
        ID_PAGE_PASSKEY,
        ID_PAGE_ZONES,
        ID_PAGE_LINKED_CONSOLES,
        ID_PAGE_DEBUG_MESSAGE,
    };

    PropertyDevicePanel(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
                        const wxSize& size = wxSize(1503, 1217), long style = wxTAB_TRAVERSAL,
                        const wxString& name = wxEmptyString);
    ~PropertyDevicePanel() override;

protected:
    wxNotebook* notebookPref;

    // "Общие"
    wxPanel* panelCommon;
    wxStaticText* staticName;
    wxTextCtrl* textName;
    wxCheckBox* checkBoxEqualizer;
    wxPanel* panelEqualizer;
    wxPanel* panelBassTreble;
    wxStaticText* staticTreble;
    wxSlider* sliderTreble;
    wxStaticText* staticBass;
    wxSlider* sliderBass;
    wxPanel* panelEqBands;
    wxSlider* sliderBand1;
    wxSlider* sliderBand2;
    wxSlider* sliderBand3;
    wxSlider* sliderBand4;
    wxSlider* sliderBand5;
    wxSlider* sliderBand6;
    wxStaticText* staticBand1;
    wxStaticText* staticBand2;
    wxStaticText* staticBand3;
    wxStaticText* staticBand4;
    wxStaticText* staticBand5;
    wxStaticText* staticBand6;
    wxButton* buttonResetEq;
    wxStaticBoxSizer* sizerLine;
    wxCheckBox* checkBoxLineControl;
    wxButton* buttonSetLine;
    wxChoice* choiceLineMode;
    wxPanel* panelTovik;
    wxBoxSizer* sizerTovik;
    wxCheckBox* checkBoxGong;
    wxComboBox* comboBoxGong;
    wxCheckBox* checkBoxKeySound;
    wxCheckBox* checkBoxFaultSound;
    wxCheckBox* checkBoxSinglePowerSource;
    wxCheckBox* checkBoxAnalogInput;
    wxCheckBox* checkBoxZoneIndication;
    wxStaticText* staticPower1;
    wxChoice* choicePower1;
    wxStaticText* staticPower2;
    wxChoice* choicePower2;
    wxChoice* choiceTovikType;
    NumberSpin* spinTovikPriority;
    wxStaticText* staticTovikPriority;
    wxButton* buttonUpdateFirmware;
    wxButton* buttonReboot;
    wxPanel* panelExchange;
    wxPanel* panelExchangeInner;
    wxScrolledWindow* scrolledExchange;
    wxBoxSizer* sizerExchange;
    wxTextCtrl* textCommand;
    wxButton* buttonExchange;
    wxButton* buttonAddCommand;
    wxBoxSizer* sizerCommandRows;
    wxButton* buttonCommandSuite;
    wxTextCtrl* textExchangeAnswer;

    // "Аудио память"
    wxPanel* panelAudioMemory;
    wxListCtrl* listCtrlAudioFragment;
    wxMenu* menuFragment;
    wxMenuItem* menuFragmentPlay;
    wxMenuItem* menuFragmentStop;
    wxMenuItem* menuFragmentAdd;
    wxMenuItem* menuFragmentSave;
    wxMenuItem* menuFragmentDelete;
    wxStaticBoxSizer* sizerScenario;
    wxListCtrl* listCtrlAudioScenario;
    wxMenu* menuScenario;
    wxMenuItem* menuScenarioAdd;
    wxMenuItem* menuScenarioDelete;
    wxMenuItem* menuScenarioPlay;
    wxMenuItem* menuScenarioStop;
    wxStaticText* staticFreeMemory;
    wxTextCtrl* textFreeMemory;
    wxButton* buttonAudioMemory;
    wxMenu* menuAudioMemory;
    wxMenuItem* menuClearMemory;
    wxMenuItem* menuRevertChanges;
    wxMenuItem* menuSaveImage;
    wxMenuItem* menuLoadImage;
    wxStaticText* staticLowLevelWarning;

    // "Сеть"
    wxPanel* panelNetwork;
    wxStaticText* staticNetworkWarning;
    wxCheckBox* checkBoxLanRedundancy;
    wxCheckBox* checkBoxDhcp;
    wxStaticText* staticIp;
    wxTextCtrl* textIp;
    wxStaticText* staticMask;
    wxTextCtrl* textMask;
    wxStaticText* staticGateway;
    wxTextCtrl* textGateway;
    wxStaticText* staticMulticastIp;
    wxTextCtrl* textMulticastIp;
    wxStaticText* staticBasePort;
    NumberSpin* spinBasePort;
    wxCheckBox* checkBoxAllowIp;
    wxTextCtrl* textAllowIp;
    wxStaticText* staticMulticastNote;
    wxCheckBox* checkBoxIgmp;

    // "Зарно"
    wxPanel* panelZarno;
    wxStaticText* staticZarnoAddress;
    NumberSpin* spinZarnoAddress;
    wxStaticText* staticZarnoInfo;
    wxCheckBox* checkBoxRelayEvents;
    wxCheckBox* checkBoxIsTestZarno;
    wxCheckBox* checkBoxLineRedundancy;

    // "Источники"
    wxPanel* panelSource;
    wxScrolledWindow* scrolledSource;
    wxCheckBox* checkBoxStreamFromOthers;
    wxCheckBox* checkBoxForwardInput1;
    wxCheckBox* checkBoxForwardInput2;
    wxCheckBox* checkBoxAnalogFilter;
    wxStaticText* staticInputHeader;
    wxStaticText* staticPriorityHeader;
    wxStaticText* staticFunctionHeader;
    wxStaticText* staticIntegrityHeader;
    wxStaticLine* lineHeader1;
    wxStaticLine* lineHeader2;
    wxStaticLine* lineHeader3;
    wxStaticLine* lineHeader4;
    wxStaticText* staticFireConsole;
    wxChoice* choiceFireConsolePriority;
    wxStaticText* staticZarnoMessages;
    wxChoice* choiceZarnoMessagesPriority;
    wxStaticText* staticAnalogInput2;
    wxChoice* choiceAnalogInput2Priority;
    wxChoice* choiceAnalogInput2Function;
    wxCheckBox* checkBoxLineIntegrity;
    wxStaticText* staticAnalogInput1;
    wxChoice* choiceAnalogInput1Priority;
    wxChoice* choiceAnalogInput1Function;
    wxStaticText* staticAnalogMulticast;
    wxChoice* choiceAnalogMulticastPriority;
    wxStaticText* staticAnalogConsole;
    wxChoice* choiceAnalogConsolePriority;
    wxStaticText* staticAlarmStream;
    wxChoice* choiceAlarmStreamPriority;
    wxStaticText* staticNotificationConsole;
    wxChoice* choiceNotificationConsolePriority;

    // "Линия"
    wxPanel* panelLineControl;
    wxPanel* panelTipDevices;
    wxBoxSizer* sizerLineControl;
    wxStaticText* staticVersion;
    wxStaticText* staticVersionValue;
    wxCheckBox* checkBoxPowerSave;
    wxButton* buttonRebootMaster;
    wxButton* buttonAddAllTipDevices;
    wxButton* buttonResetPref;
    wxScrolledWindow* scrolledTipDevices;
    wxBoxSizer* sizerTipDevices;
    wxPanel* panelTipDeviceSample;
    wxStaticText* staticTipDeviceLevel;
    wxStaticText* staticTipDevicePercent;
    wxStaticText* staticTipDeviceDebug;
    wxTextCtrl* textTipDeviceName;
    wxButton* buttonAddOrRemoveTipDevice;

    // "Ключи"
    wxPanel* panelPasskey;
    wxPanel* panelPasskeys;
    wxBoxSizer* sizerPasskeyPanel;
    wxPanel* panelAccessControl;
    wxToggleButton* toggleAccessControl;
    wxStaticText* staticPasskeyHint;
    wxButton* buttonAddPasskey;
    wxButton* buttonResetPasskeys;
    wxScrolledWindow* scrolledPasskeys;
    wxBoxSizer* sizerPasskeys;
    wxPanel* panelPasskeySample;
    wxStaticText* staticPasskeyNumber;
    wxStaticText* staticPasskeyHash;
    wxTextCtrl* textPasskeyName;
    wxButton* buttonDeletePasskey;

    // "Зоны трансляции"
    wxPanel* panelZones;
    wxPanel* panelZoneButtons;
    wxGridSizer* sizerZoneButtons;
    wxToggleButton* toggleZone1;
    wxToggleButton* toggleZone2;
    wxToggleButton* toggleZone3;
    wxToggleButton* toggleZone4;
    wxToggleButton* toggleZone5;
    wxToggleButton* toggleZone6;
    wxToggleButton* toggleZone7;
    wxToggleButton* toggleZone8;
    wxToggleButton* toggleZone9;
    wxToggleButton* toggleZone10;
    wxToggleButton* toggleZone11;
    wxToggleButton* toggleZone12;
    wxToggleButton* toggleZone13;
    wxToggleButton* toggleZone14;
    wxToggleButton* toggleZone15;
    wxToggleButton* toggleZone16;
    wxToggleButton* toggleZone17;
    wxToggleButton* toggleZone18;
    wxToggleButton* toggleZone19;
    wxToggleButton* toggleZone20;
    wxComboBox* comboBoxZoneMode;
    wxStaticText* staticZoneNote;
    wxButton* buttonRemoveZone;
    wxButton* buttonResetZones;
    wxButton* buttonFixZoneIntegrity;
    wxScrolledWindow* scrolledZoneTargets;
    wxBoxSizer* sizerZoneTargets;
    wxCheckBox* checkBoxZoneTargetSample;

    // "Связанные консоли"
    wxPanel* panelLinkedConsoles;
    wxButton* buttonFixLinkIntegrity;
    wxScrolledWindow* scrolledLinkedConsoles;
    wxBoxSizer* sizerLinkedConsoles;
    wxCheckBox* checkBoxLinkedConsoleSample;

    // "Отладочные сообщения"
    wxPanel* panelDebug;
    wxRadioBox* radioBoxDebugKind;
    wxStaticText* staticDebugIndicator;
    wxButton* buttonCopyDebug;
    wxChoice* choiceRefreshRate;
    wxScrolledWindow* scrolledDebugText;
    /// The drawing area; a plain window because the toolkit's labels here
    /// get no paint events.
    wxPanel* staticDebugText;
    wxToggleButton* toggleStopDebug;
    wxButton* buttonClearDebug;
    wxCheckBox* checkBoxLineError;
    wxSlider* sliderVolume;
    wxTextCtrl* textDebugExchange;
    wxButton* buttonDebugExchange;
    wxTextCtrl* textDebugLog;
    wxTextCtrl* textDebugUpper;
    wxTextCtrl* textDebugLower;

    // The bar under the notebook.
    wxPanel* panelButtons;
    wxStaticText* staticDeviceName;
    /// "Чтение…" while the page is read, "Запись…" while Apply writes.
    wxStaticText* staticPageState;
    wxButton* buttonApply;
    wxButton* buttonCancel;
    wxButton* buttonClose;

    virtual void onSize(wxSizeEvent& event) = 0;
    virtual void notebookPrefOnNotebookPageChanged(wxBookCtrlEvent& event) = 0;
    virtual void onValueChanged(wxKeyEvent& event) = 0;
    virtual void onCheckBoxEqualizer(wxCommandEvent& event) = 0;
    virtual void onLeftUpTrebleSlider(wxMouseEvent& event) = 0;
    virtual void onLeftUpBassSlider(wxMouseEvent& event) = 0;
    virtual void onBandSlider(wxMouseEvent& event) = 0;
    virtual void onBandSliderScroll(wxScrollEvent& event) = 0;
    virtual void resetEqOnButtonClick(wxCommandEvent& event) = 0;
    virtual void onCheckBoxOption(wxCommandEvent& event) = 0;
    virtual void buttonSetLineOnClick(wxCommandEvent& event) = 0;
    virtual void lineModeOnChoice(wxCommandEvent& event) = 0;
    virtual void onChoiceChanged(wxCommandEvent& event) = 0;
    virtual void onCheckBoxSinglePowerSource(wxCommandEvent& event) = 0;
    virtual void powerInputOnChoice(wxCommandEvent& event) = 0;
    virtual void changeTovikTypeOnChoice(wxCommandEvent& event) = 0;
    virtual void fieldOnChar(wxKeyEvent& event) = 0;
    virtual void fieldOnSpinCtrl(wxSpinEvent& event) = 0;
    virtual void updateFirmwareOnButtonClick(wxCommandEvent& event) = 0;
    virtual void rebootOnClick(wxCommandEvent& event) = 0;
    virtual void textDebugExchangeOnPress(wxCommandEvent& event) = 0;
    virtual void buttonDebugExchangeOnClick(wxCommandEvent& event) = 0;
    virtual void exchangeCommandsOnButtonClick(wxCommandEvent& event) = 0;
    virtual void manageCommandSuiteOnButtonClick(wxCommandEvent& event) = 0;
    virtual void listCtrlAudioFragmentOnRightDown(wxMouseEvent& event) = 0;
    virtual void listCtrlAudioFragmentOnListItemDeselected(wxListEvent& event) = 0;
    virtual void listCtrlAudioFragmentOnListItemSelected(wxListEvent& event) = 0;
    virtual void listCtrlAudioFragmentOnRightUp(wxMouseEvent& event) = 0;
    virtual void menuFragmentPlayOnSelection(wxCommandEvent& event) = 0;
    virtual void menuAudioStopOnSelection(wxCommandEvent& event) = 0;
    virtual void menuFragmentAddOnSelection(wxCommandEvent& event) = 0;
    virtual void menuFragmentSaveOnSelection(wxCommandEvent& event) = 0;
    virtual void menuFragmentDeleteOnSelection(wxCommandEvent& event) = 0;
    virtual void listCtrlAudioScenarioOnListItemDeselected(wxListEvent& event) = 0;
    virtual void listCtrlAudioScenarioOnListItemSelected(wxListEvent& event) = 0;
    virtual void listCtrlAudioScenarioOnRightDown(wxMouseEvent& event) = 0;
    virtual void listCtrlAudioScenarioOnRightUp(wxMouseEvent& event) = 0;
    virtual void menuScenarioAddOnSelection(wxCommandEvent& event) = 0;
    virtual void menuScenarioDeleteOnSelection(wxCommandEvent& event) = 0;
    virtual void menuScenarioPlayOnSelection(wxCommandEvent& event) = 0;
    virtual void audioMemoryOnButtonClick(wxCommandEvent& event) = 0;
    virtual void clearMemory(wxCommandEvent& event) = 0;
    virtual void revertChanges(wxCommandEvent& event) = 0;
    virtual void saveImageMemory(wxCommandEvent& event) = 0;
    virtual void loadImageMemory(wxCommandEvent& event) = 0;
    virtual void onCheckBoxDhcp(wxCommandEvent& event) = 0;
    virtual void onCheckBoxAllowIp(wxCommandEvent& event) = 0;
    virtual void zarnoAddressOnSpinCtrl(wxSpinEvent& event) = 0;
    virtual void relayEventsOnCheckBox(wxCommandEvent& event) = 0;
    virtual void onCheckBoxIsTestZarno(wxCommandEvent& event) = 0;
    virtual void onCheckBoxSource(wxCommandEvent& event) = 0;
    virtual void forwardStreamOnCheckBox(wxCommandEvent& event) = 0;
    virtual void onCheckBoxPowerSave(wxCommandEvent& event) = 0;
    virtual void rebootMasterOfTipDevices(wxCommandEvent& event) = 0;
    virtual void addAllTipDevices_onButtonClick(wxCommandEvent& event) = 0;
    virtual void resetPrefOnButtonClick(wxCommandEvent& event) = 0;
    virtual void addOrRemoveTipDeviceOnButtonClick(wxCommandEvent& event) = 0;
    virtual void accessControlOnToggle(wxCommandEvent& event) = 0;
    virtual void addPasskeyOnButtonClick(wxCommandEvent& event) = 0;
    virtual void resetPasskeysOnButtonClick(wxCommandEvent& event) = 0;
    virtual void deletePasskeyOnButtonClick(wxCommandEvent& event) = 0;
    virtual void toggleZoneButton(wxCommandEvent& event) = 0;
    virtual void removeZoneOnButtonClick(wxCommandEvent& event) = 0;
    virtual void resetZonesOnButtonClick(wxCommandEvent& event) = 0;
    virtual void fixZoneIntegrityOnButtonClick(wxCommandEvent& event) = 0;
    virtual void copyDebugOnButtonClick(wxCommandEvent& event) = 0;
    virtual void refreshRateOnChoice(wxCommandEvent& event) = 0;
    virtual void eraseTextOnPanel(wxEraseEvent& event) = 0;
    virtual void paintTextOnPanel(wxPaintEvent& event) = 0;
    virtual void stopDebugOnToggle(wxCommandEvent& event) = 0;
    virtual void clearDebugOnButtonClick(wxCommandEvent& event) = 0;
    virtual void setVolumeOnScrollChanged(wxScrollEvent& event) = 0;
    virtual void applyOnButtonClick(wxCommandEvent& event) = 0;
    virtual void cancelOnButtonClick(wxCommandEvent& event) = 0;
    virtual void closeOnButtonClick(wxCommandEvent& event) = 0;
    virtual void fieldOnText(wxCommandEvent& event) = 0;

    /// Pop the page's menus up where the right button went down; a menu
    /// without items is not popped up (on GTK an empty popup never returns).
    void listCtrlAudioFragmentOnContextMenu(wxMouseEvent& event);
    void listCtrlAudioScenarioOnContextMenu(wxMouseEvent& event);
    void audioMemoryOnContextMenu(wxMouseEvent& event);

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;

private:
    wxPanel* buildCommonPage();
    wxPanel* buildAudioMemoryPage();
    wxPanel* buildNetworkPage();
    wxPanel* buildZarnoPage();
    wxPanel* buildSourcePage();
    wxPanel* buildLineControlPage();
    wxPanel* buildPasskeyPage();
    wxPanel* buildZonesPage();
    wxPanel* buildLinkedConsolesPage();
    wxPanel* buildDebugPage();
    wxPanel* buildButtonBar();
    void connectEvents();
    /// Binds a menu's items to their handlers on the menu itself.
    template <class Handler>
    void bindItem(wxMenu* menu, wxMenuItem* item, Handler handler) {
        menu->Bind(wxEVT_MENU, handler, this, item->GetId());
    }
    static void popUp(wxWindow* carrier, wxMenu* menu, const wxMouseEvent& event);
};

}  // namespace fb
}  // namespace frm

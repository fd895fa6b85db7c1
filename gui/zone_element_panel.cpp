#include "gui/zone_element_panel.h"

#include <wx/sizer.h>

#include "base/log.h"

namespace frm {

ZoneElementPanel::ZoneElementPanel(wxWindow* parent, ZoneElement::Ptr, boost::shared_ptr<device::DeviceCollection>)
    : wxPanel(parent) {
    deviceList = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
    lockInterface = new wxButton(this, wxID_ANY, L"Заблокировать");
    generalProperty = new wxButton(this, wxID_ANY, L"Общие настройки");
    deviceProperty = new wxButton(this, wxID_ANY, L"Настройки устройства");
    lockAdmin = new wxButton(this, wxID_ANY, L"Настройки");

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    for (wxButton* button : {lockInterface, generalProperty, deviceProperty, lockAdmin})
        buttons->Add(button, 0, wxALL, 5);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(deviceList, 1, wxEXPAND | wxALL, 5);
    sizer->Add(buttons, 0, wxALIGN_RIGHT);
    SetSizer(sizer);

    lockInterface->Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) {
        onButton(event, lockInterfaceCallback, L"Internal error. Don't callback for unlock interface click");
    });
    generalProperty->Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) {
        onButton(event, generalPropertyCallback, L"Internal error. Don't callback for general property");
    });
    deviceProperty->Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) {
        onButton(event, devicePropertyCallback, L"Internal error. Don't callback for device property");
    });
    lockAdmin->Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) {
        onButton(event, lockAdminCallback, L"Internal error. Don't callback for unlock admin click");
    });
}

void ZoneElementPanel::onButton(wxCommandEvent& event, const ButtonCallback& callback, const wchar_t* missing) {
    if (callback)
        callback(event);
    else
        LOG_WARN(L"%1%", missing);
}

void ZoneElementPanel::enableAdministratorMode(bool) {}
void ZoneElementPanel::updateCurrentZone() {}
void ZoneElementPanel::refreshList() {}
void ZoneElementPanel::refreshDevices(const boost::shared_ptr<device::DeviceBase>&) {}
void ZoneElementPanel::setItemDataMap(ItemDataMap*) {}
void ZoneElementPanel::setIsUsedDevice(DeviceUseTest) {}

}  // namespace frm

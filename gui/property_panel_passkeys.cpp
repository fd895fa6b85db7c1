// The passkeys page ("Ключи") of a microphone console: its keys, the learning
// of a new key, deleting one or all, and the access control.
//
// Threads: the GUI thread runs everything here but the exchanges with the
// console: the list's read and the actions run on the panel's worker, the
// poll of the key learning on the dispatcher
// (page_jobs::pollPasskeyListening); each hands its answer back. One poll is
// pending at a time, scheduled on the GUI thread only.

#include <wx/clntdata.h>

#include "base/check.h"
#include "base/log.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_guards.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/tovik_info.h"
#include "gui/gui_thread.h"
#include "gui/property_device_panel.h"

namespace frm {

namespace pages = property_pages;

namespace {

const wxColour kAccessOff(255, 0, 0);

/// The key a row's "Удалить" deletes.
class PasskeyData : public wxClientData {
public:
    explicit PasskeyData(std::string key) : key(std::move(key)) {}
    const std::string key;
};

}  // namespace

void PropertyDevicePanel::fillPasskeyPage() {
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    if (!console) {
        endFill(pages::kPasskey, nullptr, [] { return true; });
        return;
    }
    readPage<page_reads::PasskeyPage>(
        [console](const page_jobs::Wanted& wanted) { return page_reads::readPasskeyPage(console, wanted); },
        [this, console](const page_reads::PasskeyPage& page) {
            showPasskeys(console, page);
            return true;
        });
}

void PropertyDevicePanel::refreshPasskeys() {
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::refreshPasskeys");
    if (!wxIsMainThread()) {
        GuiThreadInvoker::add([alive = std::weak_ptr<PropertyDevicePanel*>(m_pagesAlive)] {
            if (const auto panel = alive.lock()) (*panel)->refreshPasskeys();
        });
        return;
    }
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    if (m_shuttingDown || !console) return;
    runJob<page_reads::PasskeyPage>(
        page_jobs::Wanted(),
        [console](const page_jobs::Wanted& wanted) { return page_reads::readPasskeyPage(console, wanted); },
        [this, console](page_jobs::Outcome<page_reads::PasskeyPage> outcome) {
            if (!shows(console, pages::kPasskey)) return;
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
                return;
            }
            showPasskeys(console, *outcome.value);
        });
}

void PropertyDevicePanel::showPasskeys(const boost::shared_ptr<device::TovikInfo>& console,
                                       const page_reads::PasskeyPage& read) {
    FRM_ASSERT_GUI_THREAD();
    {
        GuiFreezer freeze(scrolledPasskeys);
        wxWindowList rows = scrolledPasskeys->GetChildren();
        for (wxWindow* row : rows)
            if (row != panelPasskeySample) row->Destroy();

        staticPasskeyHint->Show(read.listening);
        if (read.listening) {
            checkPasskeyListening(console);
        } else {
            buttonCancel->Disable();
            removeJob(m_passkeyJob);  // nothing left to poll
        }

        for (std::size_t n = 0; n < read.keys.size(); ++n) addPasskeyRow(n + 1, read.keys[n].key);
        buttonResetPasskeys->Enable(!read.keys.empty());
        toggleAccessControl->Enable(!read.keys.empty());
        showAccessControl(read.accessControl);
        scrolledPasskeys->FitInside();
        scrolledPasskeys->Layout();
    }
    panelPasskeys->Layout();
}

void PropertyDevicePanel::addPasskeyRow(std::size_t position, const std::string& key) {
    FRM_ASSERT_GUI_THREAD();
    auto* row = new wxPanel(scrolledPasskeys, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    for (const wxString& text : {wxString::Format(L"%02u", static_cast<unsigned>(position)), wxString(key)}) {
        auto* label = new wxStaticText(row, wxID_ANY, text);
        useRowFont(label);
        sizer->Add(label, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    }
    auto* name = new wxTextCtrl(row, wxID_ANY, L"Ключ " + std::to_wstring(position));
    name->Disable();
    sizer->Add(name, 1, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    auto* button = new wxButton(row, wxID_ANY, L"Удалить");
    button->SetClientObject(new PasskeyData(key));
    button->Bind(wxEVT_BUTTON, &PropertyDevicePanel::deletePasskeyOnButtonClick, this);
    sizer->Add(button, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    row->SetSizer(sizer);
    sizerPasskeys->Add(row, 0, wxEXPAND | wxALL, 5);
}

void PropertyDevicePanel::checkPasskeyListening(const boost::shared_ptr<device::TovikInfo>& console,
                                                const wchar_t* description) {
    FRM_ASSERT_GUI_THREAD();
    removeJob(m_passkeyJob);
    const auto deliver = [alive = std::weak_ptr<PropertyDevicePanel*>(m_pagesAlive),
                          console](bool listening) {
        if (const auto panel = alive.lock()) (*panel)->takePasskeyPoll(console, listening);
    };
    m_passkeyJob = base::ThreadDispatcher::add(
        description, static_cast<std::uint32_t>(m_pagePeriods.passkeyPoll.count()),
        [console, deliver] {
            page_jobs::pollPasskeyListening(
                console, [](std::function<void()> task) { GuiThreadInvoker::add(std::move(task)); }, deliver);
        });
}

void PropertyDevicePanel::takePasskeyPoll(const boost::shared_ptr<device::TovikInfo>& console,
                                          bool listening) {
    FRM_ASSERT_GUI_THREAD();
    // The page was left (the learning ended there) or shows another console.
    if (!shows(console, pages::kPasskey)) return;
    if (listening)
        checkPasskeyListening(console);
    else
        refreshPasskeys();
}

void PropertyDevicePanel::addPasskeyOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::addPasskeyOnButtonClick");
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    if (!console) return;
    buttonAddPasskey->Disable();
    runJob<page_jobs::Done>(
        page_jobs::Wanted(),
        [console](const page_jobs::Wanted&) {
            console->addPasskey();
            return page_jobs::Done();
        },
        [this, console](const page_jobs::Outcome<page_jobs::Done>& outcome) {
            buttonAddPasskey->Enable();
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
                return;
            }
            if (!shows(console, pages::kPasskey)) return;
            staticPasskeyHint->Show();
            panelPasskeys->Layout();
            checkPasskeyListening(console, L"Добавление ключа");
            // "&Отмена" ends the learning.
            buttonCancel->Enable();
        });
}

void PropertyDevicePanel::resetPasskeysOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::resetPasskeysOnButtonClick");
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    if (!console) return;
    runJob<page_jobs::Done>(
        page_jobs::Wanted(),
        [console](const page_jobs::Wanted&) {
            console->resetPasskeys();
            return page_jobs::Done();
        },
        [this](const page_jobs::Outcome<page_jobs::Done>& outcome) {
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
                return;
            }
            refreshPasskeys();
            LOG_NOTICE(L"Успешно выполнено");
        });
}

void PropertyDevicePanel::deletePasskeyOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::deletePasskeyOnButtonClick");
    auto* button = dynamic_cast<wxButton*>(event.GetEventObject());
    debug::throwIfFalse(button != nullptr, "frm::PropertyDevicePanel::deletePasskeyOnButtonClick");
    const auto* data = dynamic_cast<PasskeyData*>(button->GetClientObject());
    debug::throwIfFalse(data != nullptr, "frm::PropertyDevicePanel::deletePasskeyOnButtonClick");
    button->Disable();
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    if (!console) return;
    // The rows are rebuilt once the console has answered: the button is one
    // of them.
    runJob<page_jobs::Done>(
        page_jobs::Wanted(),
        [console, key = data->key](const page_jobs::Wanted&) {
            console->deletePasskey(key);
            return page_jobs::Done();
        },
        [this](const page_jobs::Outcome<page_jobs::Done>& outcome) {
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
            } else {
                LOG_NOTICE(L"Успешно выполнено");
            }
            refreshPasskeys();
        });
}

void PropertyDevicePanel::accessControlOnToggle(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::accessControlOnToggle");
    setAccessControl(toggleAccessControl->GetValue());
}

void PropertyDevicePanel::setAccessControl(bool on) {
    FRM_ASSERT_GUI_THREAD();
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    if (!console) {
        showAccessControl(on);
        return;
    }
    // Shown when the console has taken it; until then the toggle waits.
    toggleAccessControl->Disable();
    runJob<page_jobs::Done>(
        page_jobs::Wanted(),
        [console, on](const page_jobs::Wanted&) {
            device::TovikInfo::Config config = console->getConfig(false);
            if (config.passkey != on) {
                config.passkey = on;
                console->setConfig(config);
            }
            return page_jobs::Done();
        },
        [this, console, on](const page_jobs::Outcome<page_jobs::Done>& outcome) {
            if (!shows(console, pages::kPasskey)) return;
            toggleAccessControl->Enable();
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
                refreshPasskeys();  // the toggle shows what the console holds
                return;
            }
            showAccessControl(on);
        });
}

void PropertyDevicePanel::showAccessControl(bool on) {
    FRM_ASSERT_GUI_THREAD();
    toggleAccessControl->SetValue(on);
    toggleAccessControl->SetLabel(on ? L"Контроль доступа включен" : L"Контроль доступа выключен");
    const wxColour strip = on ? wxNullColour : kAccessOff;
    panelAccessControl->SetBackgroundColour(strip);
    panelAccessControl->SetOwnBackgroundColour(strip);
    panelAccessControl->Layout();
    panelPasskeys->Layout();
    panelAccessControl->Refresh();
}

}  // namespace frm

// The line-control page ("Линия"): the end devices of a loudspeaker's
// line-control module, refreshed every 2.1 s while the page is shown, and the
// module's actions.
//
// Threads: the GUI thread runs everything here but the exchanges with the
// module: the page's read, the reads after an action and the actions run on
// the panel's worker, the periodic refresh on the dispatcher
// (page_jobs::refreshTipDevices); each hands what it found back, and the
// panel draws it only while it still shows that loudspeaker on this page.

#include "base/check.h"
#include "base/log.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_guards.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/line_control.h"
#include "device/models/orvel_info.h"
#include "gui/gui_thread.h"
#include "gui/property_device_panel.h"

namespace frm {

namespace pages = property_pages;

namespace {

using Module = device::tip_device::LineControl;
constexpr int kFirstModuleIndex = 9;

const wxColour kInService(120, 234, 110);
const wxColour kAdded(255, 84, 81);
const wxColour kOther(255, 216, 0);
const wxColour kGood(0, 255, 0);
const wxColour kBad(255, 0, 0);

/// The end device a row's button stands for.
class TipDeviceData : public wxClientData {
public:
    explicit TipDeviceData(const line_control::TipDevice& tip) : tip(tip) {}
    const line_control::TipDevice tip;
};

/// The module of a loudspeaker that has one; none for any other device.
boost::shared_ptr<Module> moduleOf(const PropertyDevicePanel::DevicePtr& device) {
    const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(device);
    if (!loudspeaker || loudspeaker->getVersionIndex() < kFirstModuleIndex)
        return boost::shared_ptr<Module>();
    return loudspeaker->getLineControl();
}

void reportFailure() { LOG_ERROR(L"Произошла ошибка во время выполнения"); }

}  // namespace

void PropertyDevicePanel::fillLineControlPage() {
    FRM_ASSERT_GUI_THREAD();
    // The page was not shown: no row button can be held down.
    m_tipGate->hold(false);
    m_tipModuleRead = false;
    const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    if (!loudspeaker) {
        LOG_IMPOR(L"Got an unexpected device, id=%1%", m_device->getId());
        endFill(pages::kLineControl, nullptr, [] { return false; });
        return;
    }
    const std::uint64_t ticket = m_reading ? m_reading->ticket : m_shown->load();
    runJob<page_reads::LinePage>(
        wantedFor(ticket),
        [loudspeaker, gate = m_tipGate](const page_jobs::Wanted& wanted) {
            return page_reads::readLinePage(loudspeaker, *gate, wanted);
        },
        [this, loudspeaker, ticket](page_jobs::Outcome<page_reads::LinePage> outcome) {
            if (!fillWanted(loudspeaker, pages::kLineControl, ticket)) return;
            // The cycle goes on even when this read failed.
            if (outcome.error && line_control::isAvailable(*loudspeaker)) scheduleTipRefresh();
            endFill(pages::kLineControl, outcome.error,
                    [&] { return showLineControlPage(loudspeaker, *outcome.value); });
        });
}

bool PropertyDevicePanel::showLineControlPage(const boost::shared_ptr<device::OrvelInfo>& loudspeaker,
                                              const page_reads::LinePage& read) {
    if (read.snapshot.available)
        scheduleTipRefresh();
    else
        removeJob(m_requestJob);  // the cycle ends until the loudspeaker is back
    drawTipDevices(*loudspeaker, read.snapshot);
    checkBoxPowerSave->SetValue(m_tipModuleRead && read.powerSave && *read.powerSave == Module::kPowerSaveOn);
    // A module that refused or a loudspeaker that did not answer: the page
    // keeps its notice, and nothing of it can be applied.
    return m_tipModuleRead;
}

void PropertyDevicePanel::refreshTipDevices(bool withVersion) {
    if (!wxIsMainThread()) {
        GuiThreadInvoker::add([alive = std::weak_ptr<PropertyDevicePanel*>(m_pagesAlive), withVersion] {
            if (const auto panel = alive.lock()) (*panel)->refreshTipDevices(withVersion);
        });
        return;
    }
    if (m_shuttingDown || !m_device) return;
    if (m_tipGate->held()) {
        LOG_DEBUG(L"%1%", L"Skip refreshing of the tip devices, because set a blocking.");
        scheduleTipRefresh();
        return;
    }
    const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    if (!loudspeaker) {
        LOG_IMPOR(L"Got an unexpected device, id=%1%", m_device->getId());
        return;
    }
    runJob<line_control::Snapshot>(
        page_jobs::Wanted(),
        [loudspeaker, gate = m_tipGate, withVersion](const page_jobs::Wanted&) {
            const std::uint64_t sequence = gate->startRead();
            line_control::Snapshot snapshot;
            if (line_control::isAvailable(*loudspeaker))
                snapshot = line_control::read(*loudspeaker, withVersion);
            snapshot.sequence = sequence;
            return snapshot;
        },
        [this, loudspeaker](page_jobs::Outcome<line_control::Snapshot> outcome) {
            if (!shows(loudspeaker, pages::kLineControl)) return;
            if (outcome.error) {
                // The cycle goes on; the page keeps what it shows.
                if (line_control::isAvailable(*loudspeaker)) scheduleTipRefresh();
                page_jobs::reportFailure(outcome.error);
                return;
            }
            if (outcome.value->available)
                scheduleTipRefresh();
            else
                removeJob(m_requestJob);  // the cycle ends until the loudspeaker is back
            drawTipDevices(*loudspeaker, *outcome.value);
        });
}

void PropertyDevicePanel::scheduleTipRefresh() {
    FRM_ASSERT_GUI_THREAD();
    // The job id is the shown page's: another page's job stays.
    if (m_currentPage != pages::kLineControl) return;
    removeJob(m_requestJob);
    const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    if (m_shuttingDown || !loudspeaker) return;
    const auto deliver = [alive = std::weak_ptr<PropertyDevicePanel*>(m_pagesAlive),
                          loudspeaker](std::optional<line_control::Snapshot> snapshot) {
        if (const auto panel = alive.lock()) (*panel)->takeTipSnapshot(loudspeaker, std::move(snapshot));
    };
    m_requestJob = base::ThreadDispatcher::add(
        L"Обновление оконечных устройств",
        static_cast<std::uint32_t>(m_pagePeriods.lineControlRefresh.count()),
        [gate = m_tipGate, loudspeaker, deliver] {
            page_jobs::refreshTipDevices(
                gate, loudspeaker, false,
                [](std::function<void()> task) { GuiThreadInvoker::add(std::move(task)); }, deliver);
        });
}

void PropertyDevicePanel::takeTipSnapshot(const boost::shared_ptr<device::OrvelInfo>& loudspeaker,
                                          std::optional<line_control::Snapshot> snapshot) {
    FRM_ASSERT_GUI_THREAD();
    // Another device or page by now: that one keeps its own cycle.
    if (!shows(loudspeaker, pages::kLineControl)) return;
    if (!snapshot) {
        scheduleTipRefresh();
        return;
    }
    if (m_tipGate->held()) {
        LOG_DEBUG(L"%1%", L"Skip refreshing of the tip devices, because set a blocking.");
        scheduleTipRefresh();
        return;
    }
    drawTipDevices(*loudspeaker, *snapshot);
    // A refusing module is asked again at the cycle's pace.
    if (snapshot->available) scheduleTipRefresh();
}

bool PropertyDevicePanel::shows(const DevicePtr& device, int page) const {
    return !m_shuttingDown && device && m_device == device && m_currentPage == page;
}

void PropertyDevicePanel::drawTipDevices(const device::OrvelInfo& loudspeaker,
                                         const line_control::Snapshot& snapshot) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE(L"%1%", L"PropertyDevicePanel::refreshTipDevices(): begin");
    if (!snapshot.available || !snapshot.refusal.empty()) {
        LOG_DEBUG(L"%1%",
                  snapshot.available ? L"The line control module refused." : L"Orvel-610 not available.");
        m_tipGate->drawn(snapshot.sequence);
        m_tipModuleRead = false;
        clearTipRows();
        panelTipDevices->Disable();
        checkBoxPowerSave->SetValue(false);
        staticVersion->SetLabel(wxEmptyString);
        staticVersionValue->SetLabel(snapshot.available ? line_control::refusalText(snapshot.refusal)
                                                        : wxString(L"Орвел недоступен / Микрофон"));
        staticVersionValue->Show();
        panelLineControl->Layout();
        // Shown by a later refresh of the page: nothing of it can be applied
        // any more.
        if (m_currentPage == pages::kLineControl) {
            m_pagesRead.erase(pages::kLineControl);
            enableEditButtons(false);
        }
        return;
    }
    panelTipDevices->Enable();
    // A failed read or one older than what is shown changes nothing.
    if (!snapshot.read || m_tipGate->isStale(snapshot.sequence)) return;
    m_tipGate->drawn(snapshot.sequence);
    m_tipModuleRead = true;
    // A module that answers again makes the page usable again.
    if (m_currentPage == pages::kLineControl && !pageRead(pages::kLineControl) && !m_updating) {
        m_pagesRead.insert(pages::kLineControl);
        panelLineControl->Enable();
    }

    const wxString version = line_control::versionText(snapshot.version, snapshot.address);
    if (staticVersion->GetLabel() != version) staticVersion->SetLabel(version);
    const line_control::Buttons rules =
        line_control::buttons(snapshot.state, snapshot.powerSave, loudspeaker.getTypeCode(), m_debugMode);
    checkBoxPowerSave->Enable(rules.powerSave);
    buttonAddAllTipDevices->Enable(rules.addAll);
    buttonResetPref->Enable(rules.resetPref);
    buttonRebootMaster->Enable(rules.reboot);
    buttonRebootMaster->Show(rules.rebootShown);

    if (snapshot.state == Module::kActive) {
        LOG_TRACE(L"%1%", L"Fill panel with tip devices.");
        {
            GuiFreezer freeze(scrolledTipDevices);
            staticVersionValue->Hide();
            clearTipRows();
            for (const line_control::TipDevice& tip : snapshot.tips)
                addTipDeviceRow(tip, snapshot.powerSave == Module::kPowerSaveOn);
            scrolledTipDevices->FitInside();
            scrolledTipDevices->Layout();
        }
        panelTipDevices->Layout();
        LOG_TRACE(L"%1%", L"PropertyDevicePanel::refreshTipDevices(): end");
        return;
    }
    staticVersionValue->SetLabel(line_control::progressText(snapshot.progress));
    staticVersionValue->Show();
    LOG_DEBUG(L"%1%", L"Orvel-610 has not tip devices.");
    clearTipRows();
    scrolledTipDevices->FitInside();
    scrolledTipDevices->Layout();
    panelTipDevices->Layout();
}

void PropertyDevicePanel::clearTipRows() {
    // The layout's sample row stays, hidden.
    wxWindowList rows = scrolledTipDevices->GetChildren();
    for (wxWindow* row : rows)
        if (row != panelTipDeviceSample) row->Destroy();
}

void PropertyDevicePanel::addTipDeviceRow(const line_control::TipDevice& tip, bool powerSaving) {
    FRM_ASSERT_GUI_THREAD();
    const line_control::TipRow texts = line_control::tipRow(tip, powerSaving);
    auto* row = new wxPanel(scrolledTipDevices, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    // The page's font: the labels are sized for it here.
    const wxFont font = panelLineControl->GetFont();
    auto* number = new wxStaticText(row, wxID_ANY, texts.number);
    useRowFont(number, font);
    number->SetBackgroundColour(texts.tone == line_control::TipTone::kInService ? kInService
                                : texts.tone == line_control::TipTone::kAdded   ? kAdded
                                                                                : kOther);
    sizer->Add(number, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    if (m_debugMode) {
        auto* rate = new wxStaticText(row, wxID_ANY, texts.rate);
        useRowFont(rate, font);
        sizer->Add(rate, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
        auto* diagnostics = new wxStaticText(row, wxID_ANY, texts.diagnostics);
        useRowFont(diagnostics, wxFont(wxNORMAL_FONT->GetPointSize(), wxFONTFAMILY_TELETYPE,
                                       wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
        diagnostics->SetBackgroundColour(texts.diagnosticsGood ? kGood : kBad);
        sizer->Add(diagnostics, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    }
    auto* name = new wxTextCtrl(row, wxID_ANY, texts.name);
    name->Disable();
    sizer->Add(name, 1, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    auto* button = new wxButton(row, wxID_ANY, texts.button);
    button->SetClientObject(new TipDeviceData(tip));
    button->Enable(texts.buttonEnabled);
    button->Bind(wxEVT_BUTTON, &PropertyDevicePanel::addOrRemoveTipDeviceOnButtonClick, this);
    button->Bind(wxEVT_LEFT_DOWN, &PropertyDevicePanel::tipDeviceButtonOnLeftDown, this);
    button->Bind(wxEVT_LEFT_UP, &PropertyDevicePanel::tipDeviceButtonOnLeftUp, this);
    sizer->Add(button, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    row->SetSizer(sizer);
    sizerTipDevices->Add(row, 0, wxEXPAND | wxALL, 5);
}

void PropertyDevicePanel::tipDeviceButtonOnLeftDown(wxMouseEvent& event) {
    m_tipGate->hold(true);
    event.Skip();
}

void PropertyDevicePanel::tipDeviceButtonOnLeftUp(wxMouseEvent& event) {
    m_tipGate->hold(false);
    event.Skip();
}

void PropertyDevicePanel::addOrRemoveTipDeviceOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::addOrRemoveTipDeviceOnButtonClick");
    auto* button = dynamic_cast<wxButton*>(event.GetEventObject());
    debug::throwIfFalse(button != nullptr, "frm::PropertyDevicePanel::addOrRemoveTipDeviceOnButtonClick");
    button->Disable();
    const auto* data = dynamic_cast<TipDeviceData*>(button->GetClientObject());
    if (data == nullptr) {
        LOG_WARN(L"Данные для оконечного устройства не установлены.");
        return;
    }
    if (!m_device) {
        LOG_WARN(L"Устройство для оконечного устройства не установлено.");
        return;
    }
    const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    debug::throwIfFalse(static_cast<bool>(loudspeaker),
                        "frm::PropertyDevicePanel::addOrRemoveTipDeviceOnButtonClick");
    const boost::shared_ptr<Module> module = loudspeaker->getLineControl();
    const line_control::TipDevice tip = data->tip;
    // The rows are rebuilt once the module has answered: the button is one
    // of them.
    runJob<bool>(
        page_jobs::Wanted(),
        [module, tip](const page_jobs::Wanted&) {
            return tip.added ? module->remove(tip.address) : module->add(tip.address);
        },
        [this](page_jobs::Outcome<bool> outcome) {
            if (outcome.error)
                page_jobs::reportFailure(outcome.error);
            else if (*outcome.value)
                LOG_NOTICE(L"Успешно выполнено");
            else
                reportFailure();
            refreshTipDevices(false);
        });
}

void PropertyDevicePanel::addAllTipDevices_onButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::addAllTipDevices_onButtonClick");
    const boost::shared_ptr<Module> module = moduleOf(m_device);
    if (!module) return;
    enum class AddAll { kPowerSaving, kNotReady, kDone, kFailed };
    runJob<AddAll>(
        page_jobs::Wanted(),
        [module](const page_jobs::Wanted&) {
            module->requestTipDevices();
            if (module->getPowerSaveMode() == Module::kPowerSaveOn) return AddAll::kPowerSaving;
            if (module->getModuleState() != Module::kActive) return AddAll::kNotReady;
            module->resetCache();
            return module->request("lsensor addAll").empty() ? AddAll::kFailed : AddAll::kDone;
        },
        [this](page_jobs::Outcome<AddAll> outcome) {
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
            } else {
                switch (*outcome.value) {
                    case AddAll::kPowerSaving:
                        LOG_WARN(
                            L"Не удалось добавить все оконечные устройства из-за включенного режима "
                            L"энергосбережения");
                        reportFailure();
                        break;
                    case AddAll::kNotReady:
                        LOG_WARN(
                            L"Оконечные устройства не добавлены, т.к. модуль контроля линии не готов к "
                            L"работе");
                        reportFailure();
                        break;
                    case AddAll::kDone:
                        LOG_NOTICE(L"Успешно выполнено");
                        break;
                    case AddAll::kFailed:
                        reportFailure();
                        break;
                }
            }
            refreshTipDevices(false);
        });
}

void PropertyDevicePanel::resetPrefOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::resetPrefOnButtonClick");
    const boost::shared_ptr<Module> module = moduleOf(m_device);
    if (!module) return;
    enum class Reset { kPowerSaving, kDone, kFailed };
    runJob<Reset>(
        page_jobs::Wanted(),
        [module](const page_jobs::Wanted&) {
            if (module->getPowerSaveMode() == Module::kPowerSaveOn) return Reset::kPowerSaving;
            module->resetCache();
            return module->request("lsensor prefReset").empty() ? Reset::kFailed : Reset::kDone;
        },
        [this](page_jobs::Outcome<Reset> outcome) {
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
            } else if (*outcome.value == Reset::kPowerSaving) {
                LOG_WARN(L"%1%",
                         L"Не удалось сбросить настройки управления линией из-за включенного режима "
                         L"энергосбережения");
                reportFailure();
            } else if (*outcome.value == Reset::kDone) {
                LOG_NOTICE(L"Успешно выполнено");
            } else {
                reportFailure();
            }
            refreshTipDevices(true);
        });
}

void PropertyDevicePanel::rebootMasterOfTipDevices(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::rebootMasterOfTipDevices");
    // Until a refresh of the cycle finds the module again.
    panelTipDevices->Disable();
    const boost::shared_ptr<Module> module = moduleOf(m_device);
    if (!module) return;
    runJob<bool>(
        page_jobs::Wanted(),
        [module](const page_jobs::Wanted&) {
            module->resetCache();
            return !module->request("lsensor reboot").empty();
        },
        [](page_jobs::Outcome<bool> outcome) {
            if (outcome.error)
                page_jobs::reportFailure(outcome.error);
            else if (!*outcome.value)
                reportFailure();
        });
}

void PropertyDevicePanel::onCheckBoxPowerSave(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::onCheckBoxPowerSave");
    noteEdit(event.GetEventObject());
    refreshTipDevices(false);
    enableEditButtons(true);
}

void PropertyDevicePanel::applyLineControlPage() {
    FRM_ASSERT_GUI_THREAD();
    const boost::shared_ptr<Module> module = moduleOf(m_device);
    // Power saving is written only as a module that was read shows it.
    const bool write = module && m_tipModuleRead;
    const std::uint32_t mode = checkBoxPowerSave->GetValue() ? Module::kPowerSaveOn : Module::kPowerSaveOff;
    startApply([module, write, mode](device::ConfigJournal& journal) {
        Applied applied;
        if (!write) return applied;
        journal.begin({{"lsensor power", "powerSave"}});
        applied.result = module->setPowerSaveMode(mode);
        if (applied.result) journal.written();
        return applied;
    });
}

}  // namespace frm

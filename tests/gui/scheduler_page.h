#pragma once

#include <wx/frame.h>
#include <wx/sizer.h>

#include <memory>
#include <string>
#include <vector>

#include "gui/source_scheduler_panel.h"
#include "gui/zone_element.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/scheduler_support.h"

// The scheduler page in a frame of its own, its controls and handlers in
// reach, driven as the operator drives it: the control changed first, then
// its event sent through the control's own handler.
namespace scheduler_page_testing {

class Page : public frm::SourceSchedulerPanel {
public:
    using frm::SourceSchedulerPanel::SourceSchedulerPanel;
    using Layout = frm::fb::SourceSchedulerPanel;
    using Layout::addTask, Layout::content, Layout::deleteTask, Layout::devices, Layout::disableTask,
        Layout::edit, Layout::enableTask, Layout::filterApply, Layout::filterCalendar, Layout::filterDate,
        Layout::filterDeviceChoice, Layout::filterDevices, Layout::filterEnabled, Layout::filterStartTime,
        Layout::filterStartTimeText, Layout::filterStopTime, Layout::filterStopTimeText,
        Layout::filterZoneChoice, Layout::filterZones, Layout::firstDate, Layout::firstDateCalendar,
        Layout::gong, Layout::lastDate, Layout::lastDateCalendar, Layout::listSizer, Layout::noGongLabel,
        Layout::place, Layout::repeat, Layout::startHour, Layout::startMinute, Layout::stopHour,
        Layout::stopMinute, Layout::stopTime, Layout::taskList, Layout::timeSizer;

    static void click(wxWindow* button) {
        wxCommandEvent event(wxEVT_BUTTON, button->GetId());
        event.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(event);
    }
    static void tick(wxCheckBox* box, bool value) {
        box->SetValue(value);
        wxCommandEvent event(wxEVT_CHECKBOX, box->GetId());
        event.SetInt(value ? 1 : 0);
        event.SetEventObject(box);
        box->GetEventHandler()->ProcessEvent(event);
    }
    /// Ticks or clears a row of the device list.
    void tickDevice(unsigned row, bool value = true) {
        devices->Check(row, value);
        wxCommandEvent event(wxEVT_CHECKLISTBOX, devices->GetId());
        event.SetInt(static_cast<int>(row));
        event.SetEventObject(devices);
        devices->GetEventHandler()->ProcessEvent(event);
    }
    int rowOf(const std::wstring& text) const { return devices->FindString(text); }
    /// The object and the content of the source box, by their texts.
    void choose(const std::wstring& object, const std::wstring& item) {
        place->SetStringSelection(object);
        wxCommandEvent event(wxEVT_CHOICE, place->GetId());
        event.SetInt(place->GetSelection());
        event.SetEventObject(place);
        place->GetEventHandler()->ProcessEvent(event);
        content->SetStringSelection(item);
    }
    void kind(int chosen) {
        repeat->SetSelection(chosen);
        wxCommandEvent event(wxEVT_RADIOBOX, repeat->GetId());
        event.SetInt(chosen);
        event.SetEventObject(repeat);
        repeat->GetEventHandler()->ProcessEvent(event);
    }
    void startAt(int hour, int minute) {
        startHour->SetValue(hour);
        startMinute->SetValue(minute);
    }
    /// The stop box ticked with this time; (-1, -1) clears it.
    void stopAt(int hour, int minute) {
        tick(stopTime, hour >= 0);
        stopHour->SetValue(hour < 0 ? 0 : hour);
        stopMinute->SetValue(minute < 0 ? 0 : minute);
    }
    void days(const wxDateTime& first, const wxDateTime& last = wxDateTime()) {
        tick(firstDate, first.IsValid());
        if (first.IsValid()) firstDateCalendar->SetDate(first);
        tick(lastDate, last.IsValid());
        if (last.IsValid()) lastDateCalendar->SetDate(last);
    }
    /// Selects the rows (and nothing else) as clicks would, with their events.
    void selectRows(const std::vector<long>& rows) {
        for (long row = 0; row < taskList->GetItemCount(); ++row)
            taskList->SetItemState(row, 0, wxLIST_STATE_SELECTED);
        for (const long row : rows) taskList->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    }
    std::vector<std::wstring> row(long at) const {
        std::vector<std::wstring> cells;
        for (int column = 0; column < taskList->GetColumnCount(); ++column)
            cells.push_back(taskList->GetItemText(at, column).ToStdWstring());
        return cells;
    }
    std::vector<std::uint32_t> rowIds() const {
        std::vector<std::uint32_t> ids;
        for (long at = 0; at < taskList->GetItemCount(); ++at)
            ids.push_back(static_cast<std::uint32_t>(taskList->GetItemData(at)));
        return ids;
    }
    std::vector<std::wstring> deviceRows() const {
        std::vector<std::wstring> rows;
        for (unsigned at = 0; at < devices->GetCount(); ++at)
            rows.push_back(devices->GetString(at).ToStdWstring());
        return rows;
    }
    std::shared_ptr<scheduler::task::BaseTask> task(std::uint32_t id) {
        return std::dynamic_pointer_cast<scheduler::task::BaseTask>(getCore().getTask(id));
    }
    scheduler::task::DataVault vault(std::uint32_t id) {
        const auto found = task(id);
        return found ? scheduler::task::getVault(*found) : scheduler::task::DataVault();
    }
};

inline wxDateTime day(int year, int month, int dayOfMonth) {
    return wxDateTime(static_cast<wxDateTime::wxDateTime_t>(dayOfMonth),
                      static_cast<wxDateTime::Month>(month - 1), year);
}

/// The page over the site's groups, its two loudspeakers in the zone tree
///   Все зоны
///     Зал: Громкоговоритель 1, a console
///       Сцена: Громкоговоритель 2
///     Новые усилители (hidden): Громкоговоритель 3
/// on the site's clock, half a minute before 10:00 on 2024-03-05 (UTC);
/// due events wait in `dispatch` until the test runs them.
class PageSite : public scheduler_testing::SchedulerSite {
protected:
    void SetUp() override {
        SchedulerSite::SetUp();
        speakers = {m_speakers[0], m_speakers[1], orvel("03")};
        speakers[0]->setTitle(L"Громкоговоритель 1");
        speakers[1]->setTitle(L"Громкоговоритель 2");
        speakers[2]->setTitle(L"Громкоговоритель 3");
        root = frm::ZoneElement::createDetached(L"Все зоны");
        hall = frm::ZoneElement::createDetached(L"Зал");
        stage = frm::ZoneElement::createDetached(L"Сцена");
        fresh = frm::ZoneElement::createDetached(L"Новые усилители");
        fresh->setShown(false);
        root->addElement(fresh);
        root->addElement(hall);
        hall->addElement(speakers[0]);
        hall->addElement(m_site.add("10", L"Пульт", L"Tovik-30"));
        hall->addElement(stage);
        stage->addElement(speakers[1]);
        fresh->addElement(speakers[2]);
        frame = new wxFrame(nullptr, wxID_ANY, "scheduler", wxPoint(0, 0), wxSize(1280, 900));
        scheduler::task::Environment environment{
            clock, [this](const std::wstring& description, scheduler::task::Event job) {
                dispatch(description, std::move(job));
            }};
        page = new Page(frame, root, m_site.collection, clock, environment);
        frame->SetSizer(new wxBoxSizer(wxVERTICAL));
        frame->GetSizer()->Add(page, 1, wxEXPAND);
        sources = makeSources();
        page->setPlaybacks(sources);
        page->resetControls();
    }
    void TearDown() override {
        frame->Destroy();
        wx_testing::runEventLoopFor(std::chrono::milliseconds(10));
        SchedulerSite::TearDown();
    }

    /// A daily item of the playlist "Утро" on the first loudspeaker, at
    /// hh:mm from 2024-03-05, with a stop when `stop` is not empty.
    void addMorning(int hour, int minute, int stopHour = -1, int stopMinute = -1) {
        page->choose(L"Плейлисты", L"Утро");
        page->tickDevice(static_cast<unsigned>(page->rowOf(L"      Громкоговоритель 1")));
        page->kind(1);
        page->startAt(hour, minute);
        page->stopAt(stopHour, stopMinute);
        Page::click(page->addTask);
    }

    std::shared_ptr<testing_support::ManualClock> clock =
        std::make_shared<testing_support::ManualClock>(testing_support::utc(2024, 3, 5, 9, 59, 30));
    scheduler_testing::QueuedDispatch dispatch;
    std::vector<boost::shared_ptr<device::OrvelInfo>> speakers;
    frm::ZoneElement::Ptr root, hall, stage, fresh;
    std::vector<scheduler_testing::GroupPtr> sources;
    wxFrame* frame = nullptr;
    Page* page = nullptr;
};

}  // namespace scheduler_page_testing

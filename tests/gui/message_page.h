#pragma once

#include <wx/frame.h>
#include <wx/sizer.h>

#include <boost/filesystem/operations.hpp>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "audio/playback.h"
#include "base/files.h"
#include "base/text.h"
#include "gui/scheduler_control.h"
#include "gui/source_service_panel.h"
#include "tests/base/wx/wx_app.h"

// A message page in a frame of its own, with its controls and handlers in
// reach, a scheduler page and a file-use check that the test controls, and
// the folders of the test: "data" (the data folder, whose "service",
// "alarm" and "record" the empty settings mean) and "gongs".
namespace message_testing {

struct FakeScheduler : frm::ISchedulerControl {
    std::set<std::wstring> used;
    std::vector<std::wstring> asked;
    void renamePlaylist(const std::wstring&, const std::wstring&) override {}
    bool existPlaylist(const std::wstring& name) override {
        return asked.push_back(name), used.count(name) > 0;
    }
};

class Page : public frm::SourceServicePanel {
public:
    using frm::SourceServicePanel::SourceServicePanel;
    using Layout = frm::fb::SourceServicePanel;
    using Layout::action, Layout::execute, Layout::filePanel, Layout::gong, Layout::message,
        Layout::messageTree, Layout::name, Layout::namePanel, Layout::play, Layout::status, Layout::stop;

    /// Chooses an action through the radio box's event.
    void choose(int chosen) {
        action->SetSelection(chosen);
        wxCommandEvent event(wxEVT_RADIOBOX, action->GetId());
        event.SetInt(chosen);
        event.SetEventObject(action);
        action->GetEventHandler()->ProcessEvent(event);
    }
    static void click(wxWindow* button) {
        wxCommandEvent event(wxEVT_BUTTON, button->GetId());
        event.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(event);
    }
    /// Runs the chosen action with this name typed.
    void run(const std::wstring& text) {
        name->ChangeValue(text);
        click(execute);
    }
    /// Selects a top-level item, or the item below it, by label.
    void select(const std::wstring& top, const std::wstring& below = {}) {
        const wxTreeItemId root = messageTree->GetRootItem();
        wxTreeItemIdValue cookie, inner;
        for (wxTreeItemId item = messageTree->GetFirstChild(root, cookie); item.IsOk();
             item = messageTree->GetNextChild(root, cookie)) {
            if (messageTree->GetItemText(item) != top) continue;
            for (wxTreeItemId child = messageTree->GetFirstChild(item, inner); !below.empty() && child.IsOk();
                 child = messageTree->GetNextChild(item, inner))
                if (messageTree->GetItemText(child) == below) item = child;
            messageTree->SelectItem(item);
        }
    }
    const ItemData* selected() { return getItemData(messageTree->GetSelection()); }
    /// Each message's title, as the scheduler gets them.
    std::vector<std::wstring> titles() {
        std::vector<std::wstring> names;
        for (const auto& track : collectTracks()) names.push_back(track->getName());
        return names;
    }
    /// Makes a group and, in it, messages from lines of the message choice
    /// with the gong of a line of the gong choice.
    void fill(const std::wstring& group, const std::vector<std::pair<std::wstring, int>>& messages,
              int gongLine) {
        choose(0);
        run(group);
        choose(1);
        for (const auto& [text, line] : messages) {
            select(group);
            gong->SetSelection(gongLine);
            message->SetSelection(line);
            run(text);
        }
    }
};

/// Files below `root`, and the outside of a page over them.
struct Folders {
    std::string root;
    std::wstring path(const std::string& relative) const { return base::fromUtf8(root + "/" + relative); }
    std::wstring put(const std::string& relative, const std::string& bytes = std::string(1, '\0')) const {
        boost::filesystem::create_directories(boost::filesystem::path(root + "/" + relative).parent_path());
        std::ofstream(root + "/" + relative, std::ios::binary) << bytes;
        return path(relative);
    }
    /// MP3 files only; the scheduler's file-use check records and answers.
    frm::SourceServicePanel::Outside outside(std::set<std::wstring>* used,
                                             std::vector<std::wstring>* checked) const {
        frm::SourceServicePanel::Outside outside;
        outside.fileMasks = [] { return std::wstring(L"*.mp3"); };
        outside.gongFiles = [gongs = path("gongs")] { return getFilesByMask(false, gongs, L"*.mp3"); };
        outside.dataFolder = path("data");
        outside.usedByScheduler = [used, checked](const std::wstring& file) {
            return checked->push_back(file), used->count(file) > 0;
        };
        return outside;
    }
};

/// A page in a frame of its own, shown.
inline Page* showPage(frm::ISchedulerControl* scheduler, bool alarm,
                      frm::SourceServicePanel::Outside outside) {
    auto* frame = new wxFrame(nullptr, wxID_ANY, "page", wxPoint(0, 0), wxSize(900, 520));
    auto* page = new Page(frame, scheduler, nullptr, alarm, std::move(outside));
    frame->SetSizer(new wxBoxSizer(wxVERTICAL));
    frame->GetSizer()->Add(page, 1, wxEXPAND);
    frame->Show();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([frame] { return frame->IsShownOnScreen(); }));
    return page;
}

}  // namespace message_testing

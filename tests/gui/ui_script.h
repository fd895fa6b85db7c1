#pragma once

#include <gtest/gtest.h>
#include <wx/dialog.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/wx/log_setup.h"
#include "gui/ui.h"
#include "gui/ui_text.h"

// The operator of the GUI tests: while a ScriptedUi lives, every box, prompt,
// chooser and modal dialog shown through frm::ui, and every notice of the
// log (as a box with its "OK"; a held-back repeat is not one), is recorded
// and answered from its script, in order, without showing anything. Something shown that the script does not expect next fails the
// test with its caption and text, and gets the answer that ends it undecided
// (No, Cancel). Replies left unused fail the test when the ScriptedUi goes.
// GUI thread.
namespace ui_testing {

/// One thing that was shown, as the operator saw it.
struct Shown {
    std::wstring caption;               // a box's caption, a dialog's title, a prompt's or chooser's message
    std::wstring text;                  // a box's text
    std::vector<std::wstring> buttons;  // a box's button labels
    int answer = wxID_NONE;
    bool notice = false;                // shown without a modal loop (frm::ui::notice)
};

class ScriptedUi {
public:
    ScriptedUi() : m_state(std::make_shared<State>()) {
        m_previous = frm::ui::setPresenter(std::make_unique<ScriptPresenter>(m_state));
        m_previousLog = dbg_setMessagePresenter({});
        m_previousRepeats = dbg_setRepeatCounter({});
        frm::ui::presentLogNotices();
    }
    ~ScriptedUi() {
        dbg_setMessagePresenter(m_previousLog);
        dbg_setRepeatCounter(m_previousRepeats);
        frm::ui::setPresenter(std::move(m_previous));
        for (const Reply& reply : m_state->replies)
            ADD_FAILURE() << "nothing was shown for the expected \"" << wxString(reply.caption).utf8_string()
                          << "\"";
    }
    ScriptedUi(const ScriptedUi&) = delete;
    ScriptedUi& operator=(const ScriptedUi&) = delete;

    /// The next thing shown has this caption (a box's caption, a prompt's or
    /// chooser's message) and is answered so: wxID_YES, wxID_NO, wxID_OK or
    /// wxID_CANCEL; `value` is a prompt's text or the chosen path(s), '\n'
    /// between several.
    ScriptedUi& expect(const std::wstring& caption, int answer, const std::wstring& value = {}) {
        m_state->replies.push_back({caption, answer, value, {}});
        return *this;
    }
    /// The next thing shown is one of our modal dialogs with this title; `act`
    /// may fill its controls before it "returns" `answer`.
    ScriptedUi& expectDialog(const std::wstring& title, int answer, std::function<void(wxDialog&)> act = {}) {
        m_state->replies.push_back({title, answer, {}, std::move(act)});
        return *this;
    }

    const std::vector<Shown>& shown() const { return m_state->shown; }
    std::size_t pending() const { return m_state->replies.size(); }

private:
    struct Reply {
        std::wstring caption;
        int answer;
        std::wstring value;
        std::function<void(wxDialog&)> act;
    };
    struct State {
        std::deque<Reply> replies;
        std::vector<Shown> shown;

        /// The reply for `caption`, or null (and a failure) when the script
        /// expects something else next.
        std::unique_ptr<Reply> take(const Shown& what) {
            if (replies.empty() || replies.front().caption != what.caption) {
                ADD_FAILURE() << "unexpected \"" << wxString(what.caption).utf8_string() << "\": \""
                              << wxString(what.text).utf8_string() << "\""
                              << (replies.empty()
                                      ? std::string(" (nothing more expected)")
                                      : " (expected \"" + wxString(replies.front().caption).utf8_string() +
                                            "\")");
                return nullptr;
            }
            auto reply = std::make_unique<Reply>(std::move(replies.front()));
            replies.pop_front();
            return reply;
        }
    };

    class ScriptPresenter : public frm::ui::Presenter {
    public:
        explicit ScriptPresenter(std::shared_ptr<State> state) : m_state(std::move(state)) {}

        int messageBox(const frm::ui::Box& box, wxWindow*) override {
            Shown shown{box.caption.ToStdWstring(), box.text.ToStdWstring(), {}, wxID_NONE};
            for (const int button : frm::ui::boxAnswers(box.style))
                shown.buttons.push_back(frm::ui::answerLabel(button));
            const auto reply = m_state->take(shown);
            shown.answer = reply ? reply->answer : frm::ui::cancelAnswer(box.style);
            if (frm::ui::answerLabel(shown.answer).empty() ||
                std::find(shown.buttons.begin(), shown.buttons.end(), frm::ui::answerLabel(shown.answer)) ==
                    shown.buttons.end()) {
                ADD_FAILURE() << "the box \"" << box.caption.utf8_string() << "\" has no button "
                              << shown.answer;
                shown.answer = frm::ui::cancelAnswer(box.style);
            }
            m_state->shown.push_back(shown);
            return shown.answer;
        }
        void notice(const frm::ui::Box& box) override {
            messageBox(box, nullptr);
            m_state->shown.back().notice = true;
        }
        void noticeRepeated(const frm::ui::Box&) override {}
        int showModal(wxDialog& dialog) override {
            Shown shown{dialog.GetTitle().ToStdWstring(), {}, {}, wxID_CANCEL};
            if (const auto reply = m_state->take(shown)) {
                if (reply->act) reply->act(dialog);
                shown.answer = reply->answer;
            }
            m_state->shown.push_back(shown);
            return shown.answer;
        }
        bool askText(const wxString& message, const wxString&, wxString& value, bool, wxWindow*) override {
            Shown shown{message.ToStdWstring(), {}, {}, wxID_CANCEL};
            const auto reply = m_state->take(shown);
            if (reply) shown.answer = reply->answer;
            m_state->shown.push_back(shown);
            if (shown.answer != wxID_OK) return false;
            value = reply->value;
            return true;
        }
        wxString chooseFile(wxWindow*, const wxString& message, const wxString&, const wxString&, bool,
                            bool) override {
            return choose(message);
        }
        wxString chooseDirectory(wxWindow*, const wxString& message, const wxString&) override {
            return choose(message);
        }

    private:
        wxString choose(const wxString& message) {
            Shown shown{message.ToStdWstring(), {}, {}, wxID_CANCEL};
            const auto reply = m_state->take(shown);
            if (reply) shown.answer = reply->answer;
            m_state->shown.push_back(shown);
            return shown.answer == wxID_OK ? wxString(reply->value) : wxString();
        }

        std::shared_ptr<State> m_state;
    };

    std::shared_ptr<State> m_state;
    std::unique_ptr<frm::ui::Presenter> m_previous;
    MessagePresenter m_previousLog;
    RepeatCounter m_previousRepeats;
};

}  // namespace ui_testing

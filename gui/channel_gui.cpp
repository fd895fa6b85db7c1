#include "gui/channel_gui.h"

#include <chrono>
#include <future>
#include <memory>

#include <wx/thread.h>

#include "audio/alarm_channel.h"
#include "base/log.h"
#include "base/wx/gui_thread_invoker.h"
#include "gui/ui.h"

namespace frm {

namespace {

bool messageBox(const std::wstring& caption, const std::wstring& text) {
    return ui::askYesNo(wxString(text), wxString(caption), wxCENTRE);
}

}  // namespace

InvokerChannelGui::InvokerChannelGui(Question question)
    : m_question(question ? std::move(question) : Question(messageBox)) {}

bool InvokerChannelGui::exists() { return GuiThreadInvoker::exists(); }

void InvokerChannelGui::post(boost::function<void()> task) { GuiThreadInvoker::add(std::move(task)); }

bool InvokerChannelGui::askYesNo(const std::wstring& caption, const std::wstring& text) {
    if (wxThread::IsMain()) return m_question(caption, text);
    if (!GuiThreadInvoker::isActive()) {
        LOG_WARN(L"No GUI thread to ask the operator: the answer is No");
        return false;
    }
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> answered = answer->get_future();
    const Question question = m_question;
    GuiThreadInvoker::add([answer, question, caption, text] { answer->set_value(question(caption, text)); });
    // The operator may take his time; a task dropped at shutdown never answers.
    while (answered.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (!GuiThreadInvoker::isActive()) {
            LOG_WARN(L"The GUI thread stopped before the operator answered: the answer is No");
            return false;
        }
    }
    try {
        return answered.get();
    } catch (const std::future_error&) {  // the task was dropped unrun
        return false;
    }
}

void playOnCommonChannel(std::weak_ptr<const void> alive, std::function<void()> play) {
    AlarmChannel* channel = AlarmChannel::instance();
    if (channel == nullptr || !AlarmChannel::commonChannelOwed()) {
        play();
        return;
    }
    channel->hand([alive = std::move(alive), play = std::move(play)] {
        if (!AlarmChannel::restoreCommonChannelForAllDevices()) return;
        GuiThreadInvoker::add([alive, play] {
            if (!alive.expired()) play();
        });
    });
}

}  // namespace frm

#pragma once

#include <functional>
#include <string>

#include "audio/channel_host.h"

namespace frm {

/// The channels' way to the GUI thread in the program: tasks go through the
/// GUI-thread invoker, and the alarm channel's Yes/No question is asked on
/// the GUI thread while the asking worker waits (a worker never shows a
/// dialog itself on wxGTK).
class InvokerChannelGui : public ChannelGui {
public:
    /// Shows the question and returns the answer; runs on the GUI thread.
    using Question = std::function<bool(const std::wstring& caption, const std::wstring& text)>;

    /// The default question is a centred Yes/No box shown through frm::ui
    /// (a stop request that ends it answers No).
    explicit InvokerChannelGui(Question question = Question());

    bool exists() override;
    void post(boost::function<void()> task) override;
    /// Asked directly on the GUI thread; from a worker, queued to it and
    /// waited for. No when the invoker stops before the operator answered.
    bool askYesNo(const std::wstring& caption, const std::wstring& text) override;

private:
    Question m_question;
};

}  // namespace frm

// Exceptions out of event handlers under the application object's real event
// loop: whatever calls the handler (GTK's page switch of a notebook, a tree's
// or a list's selection, a timer, the idle pass, a queued call), every kind
// the device layer raises reaches the main loop's exception hook with its
// notice, the loop goes on at once, and a stop from outside still gets
// through afterwards. A task of the GUI-thread invoker is logged by the
// invoker itself, without a dump.
#include <glib.h>
#include <gtest/gtest.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/timer.h>
#include <wx/treectrl.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>

#include "app/app.h"
#include "base/exception.h"
#include "base/wx/gui_thread_invoker.h"
#include "tests/app/app_environment.h"
#include "tests/support/child_process.h"
#include "tests/support/counting_log_fixture.h"

namespace {

using namespace std::chrono_literals;
using testing_support::ScopedEnv;
using testing_support::TempDir;

/// Runs a real event loop until `done` holds or the time is up.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    wxGUIEventLoop loop;
    bool finished = false;
    wxTimer watch;
    watch.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        finished = done();
        if (finished || std::chrono::steady_clock::now() > end) loop.Exit();
    });
    watch.Start(2);
    loop.Run();
    return finished;
}

/// Calls `step` from a GLib idle source, as GTK calls its signal handlers
/// from the main loop: no frame of ours lies between GLib and the step.
void fromGlib(std::function<void()> step) {
    auto* held = new std::function<void()>(std::move(step));
    g_idle_add(
        [](gpointer data) -> gboolean {
            auto* call = static_cast<std::function<void()>*>(data);
            (*call)();
            delete call;
            return G_SOURCE_REMOVE;
        },
        held);
}

/// One kind of exception and what the operator is told of it.
struct Kind {
    const char* name;
    std::function<void()> raise;
    const wchar_t* level;
    std::wstring notice;  // the whole text, or its start where `prefix`
    bool prefix = false;
};

std::vector<Kind> kinds() {
    return {
        {"offline", [] { throw exception::Offline(); }, L"NOTICE", L"Устройство не в сети."},
        {"device refusal", [] { throw exception::DeviceReason(L"ERR line control module is absent"); }, L"NOTICE",
         L"Сообщение: 'Получен неожиданный ответ устройства'\nОписание: 'ERR line control module is absent'"},
        {"malformed reply",
         [] { throw exception::UnexpectedResponseOfDevice("Processing of the previous command isn't complete!"); },
         L"NOTICE",
         L"Сообщение: 'Получен неожиданный ответ устройства'\n"
         L"Описание: 'Processing of the previous command isn't complete!'"},
        {"external", [] { throw exception::ExternalError(L"Файл", L"нет места"); }, L"NOTICE",
         L"Сообщение: 'Файл'\nОписание: 'нет места'"},
        {"internal", [] { throw exception::InternalError(L"сломано"); }, L"ERROR",
         L"Произошла внутренняя ошибка.\nСообщение: 'Internal error'\nОписание: 'сломано'"},
        {"std", [] { throw std::out_of_range("vector::at"); }, L"ERROR",
         L"Получено исключение в главном цикле обработки: 'vector::at', '", true},
    };
}

/// A window with a notebook, a tree and a list, whose handlers run the
/// thrower the test sets; the frame also carries the invoker's task events.
class Window : public wxFrame {
public:
    Window() : wxFrame(nullptr, wxID_ANY, "handler exceptions", wxDefaultPosition, wxSize(400, 500)) {
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        notebook = new wxNotebook(this, wxID_ANY);
        notebook->AddPage(new wxPanel(notebook), "Общие");
        notebook->AddPage(new wxPanel(notebook), "Линия");
        tree = new wxTreeCtrl(this, wxID_ANY);
        tree->AddRoot("Зоны");
        list = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
        list->AppendColumn("Устройство");
        sizer->Add(notebook, 1, wxEXPAND);
        sizer->Add(tree, 1, wxEXPAND);
        sizer->Add(list, 1, wxEXPAND);
        SetSizer(sizer);
        notebook->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, [this](wxBookCtrlEvent&) { run(); });
        tree->Bind(wxEVT_TREE_SEL_CHANGED, [this](wxTreeEvent&) { run(); });
        list->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent&) { run(); });
        Bind(wxEVT_TEXT, [](wxCommandEvent& event) { GuiThreadInvoker::runTask(event); }, kGuiInvokerEventId);
        Show();
    }

    /// The handlers' thrower, once.
    void arm(std::function<void()> thrower) {
        m_thrower = std::move(thrower);
        reached = false;
    }
    void run() {
        if (!m_thrower) return;
        reached = true;
        auto thrower = std::move(m_thrower);
        m_thrower = nullptr;
        thrower();
    }

    wxNotebook* notebook;
    wxTreeCtrl* tree;
    wxListCtrl* list;
    bool reached = false;

private:
    std::function<void()> m_thrower;
};

class HandlerExceptions : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        m_window = new Window;
        runUntil([this] { return m_window->IsShownOnScreen(); });
    }
    void TearDown() override {
        GuiThreadInvoker::destroyInstance();
        m_window->Destroy();
        runUntil([] { return false; }, 20ms);
        CountingLogFixture::TearDown();
    }

    /// Throws every kind from the handler that `trigger` gets called, and
    /// checks after each one the notice, the loop going on and no exception
    /// left over for the loop's last-resort catch.
    void throwEveryKind(const std::function<void(Window&)>& trigger) {
        const int sortedBefore = loggedCount("There occurs an exception in main loop");
        for (const Kind& kind : kinds()) {
            SCOPED_TRACE(kind.name);
            observedAt(L"", true);
            m_window->arm(kind.raise);
            trigger(*m_window);
            ASSERT_TRUE(runUntil([this] { return m_window->reached; })) << "the handler never ran";
            runUntil([] { return false; }, 10ms);

            // A no-op posted now runs at once: the loop was neither left nor
            // restarted.
            bool ran = false;
            const auto posted = std::chrono::steady_clock::now();
            wxTheApp->CallAfter([&] { ran = true; });
            ASSERT_TRUE(runUntil([&] { return ran; }, 1s));
            EXPECT_LT(std::chrono::steady_clock::now() - posted, 100ms);

            const auto notices = observedAt(kind.level);
            ASSERT_EQ(notices.size(), 1u) << "one notice per exception";
            if (kind.prefix)
                EXPECT_EQ(notices[0].rfind(kind.notice, 0), 0u) << base::toUtf8(notices[0]);
            else
                EXPECT_EQ(notices[0], kind.notice);
        }
        EXPECT_EQ(loggedCount("There occurs an exception in main loop") - sortedBefore,
                  static_cast<int>(kinds().size()));
        EXPECT_EQ(loggedCount("Получено исключение в главном потоке"), 0) << "nothing reached the loop's catch";
    }

    /// The dump files written so far: the internal and the std exceptions
    /// leave one each.
    int dumpCount() const {
        int count = 0;
        for (const auto& entry : boost::filesystem::recursive_directory_iterator(m_data.path()))
            if (entry.path().extension() == ".dmp") ++count;
        return count;
    }

    Window* m_window = nullptr;
    TempDir m_data;
    ScopedEnv m_env{"XDG_DATA_HOME", m_data.path().c_str()};
};

}  // namespace

TEST_F(HandlerExceptions, FromANotebookPageChangeThatGtkSignals) {
    throwEveryKind([](Window& w) { fromGlib([&w] { w.notebook->SetSelection(1 - w.notebook->GetSelection()); }); });
    // The notebook still switches and signals.
    m_window->arm([] {});
    fromGlib([this] { m_window->notebook->SetSelection(1 - m_window->notebook->GetSelection()); });
    EXPECT_TRUE(runUntil([this] { return m_window->reached; }));
    EXPECT_EQ(dumpCount(), 2) << "each dump keeps its own file";
}

TEST_F(HandlerExceptions, FromATreeAndAListSelection) {
    // A new item each time: selecting the selected one again sends nothing.
    throwEveryKind([](Window& w) {
        fromGlib([&w] { w.tree->SelectItem(w.tree->AppendItem(w.tree->GetRootItem(), "Зона")); });
    });
    throwEveryKind([](Window& w) {
        fromGlib([&w] {
            const long row = w.list->InsertItem(w.list->GetItemCount(), "C");
            w.list->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
        });
    });
}

TEST_F(HandlerExceptions, FromATimerAndAnIdleHandler) {
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { m_window->run(); });
    throwEveryKind([&](Window&) { timer.StartOnce(1); });
    m_window->Bind(wxEVT_IDLE, [this](wxIdleEvent&) { m_window->run(); });
    throwEveryKind([](Window&) { wxWakeUpIdle(); });
}

TEST_F(HandlerExceptions, FromAQueuedCall) {
    throwEveryKind([](Window& w) { wxTheApp->CallAfter([&w] { w.run(); }); });
}

// The invoker's tasks are no event handlers of the loop's: the invoker logs
// what they throw by its own kinds, and nothing writes a dump.
TEST_F(HandlerExceptions, AnInvokerTaskIsLoggedByTheInvokerWithoutADump) {
    GuiThreadInvoker::createInstance(m_window);
    const int sortedBefore = loggedCount("There occurs an exception in main loop");
    for (const Kind& kind : kinds()) {
        SCOPED_TRACE(kind.name);
        observedAt(L"", true);
        m_window->arm(kind.raise);
        std::thread([this] { GuiThreadInvoker::add([this] { m_window->run(); }); }).join();
        ASSERT_TRUE(runUntil([this] { return m_window->reached; })) << "the task never ran";
        runUntil([] { return false; }, 10ms);
        const auto notices = observedAt(kind.level);
        ASSERT_EQ(notices.size(), 1u) << "one notice per exception";
        if (kind.prefix)
            EXPECT_EQ(notices[0].rfind(L"caught std exception: vector::at", 0), 0u) << base::toUtf8(notices[0]);
        else
            EXPECT_EQ(notices[0], kind.notice);
    }
    EXPECT_EQ(loggedCount("There occurs an exception in main loop"), sortedBefore);
    EXPECT_EQ(loggedCount("make memory dump"), 0);
    EXPECT_EQ(dumpCount(), 0);
    // The loop goes on.
    bool ran = false;
    wxTheApp->CallAfter([&] { ran = true; });
    EXPECT_TRUE(runUntil([&] { return ran; }, 1s));
}

TEST_F(HandlerExceptions, AStopFromOutsideStillGetsThroughAfterwards) {
    static bool requested = false;  // the application queues one stop in its life
    if (requested) GTEST_SKIP() << "a stop was asked for already in this process";
    requested = true;
    throwEveryKind([](Window& w) { fromGlib([&w] { w.notebook->SetSelection(1 - w.notebook->GetSelection()); }); });
    // What the stop thread and the signal thread do on a stop request.
    std::thread([] { static_cast<aApp*>(wxTheApp)->requestExternalStop(); }).join();
    EXPECT_TRUE(runUntil([this] { return logged("External stop: main window false"); }));
}

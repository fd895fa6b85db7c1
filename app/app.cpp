#include "app/app.h"

#include <wx/msgdlg.h>
#include <wx/translation.h>

#include <algorithm>
#include <boost/exception/diagnostic_information.hpp>
#include <boost/filesystem/exception.hpp>
#include <boost/interprocess/exceptions.hpp>
#include <boost/make_shared.hpp>
#include <clocale>
#include <cstdio>
#include <exception>
#include <system_error>

#include "app/startup_settings.h"
#include "audio/alarm_channel.h"
#include "audio/channel_host.h"
#include "audio/host_window.h"
#include "audio/mp3stream.h"
#include "audio/mp3streamf.h"
#include "audio/orvel_link.h"
#include "audio/player.h"
#include "audio/player_channel.h"
#include "audio/player_engine.h"
#include "base/clock.h"
#include "base/crc.h"
#include "base/dbg.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/log_safe.h"
#include "base/pref.h"
#include "base/system_error_text.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "base/wx/log_setup.h"
#include "device/models/orvel_info.h"
#include "device/models/stream_ports.h"
#include "device/transfer_protocol.h"
#include "gui/activity_filter.h"
#include "gui/channel_gui.h"
#include "gui/item_data_map.h"
#include "gui/main_frame.h"
#include "gui/translations.h"
#include "gui/ui.h"
#include "gui/widget_map.h"
#include "os/crash_handler.h"
#include "os/data_directory.h"
#include "os/file_system.h"
#include "os/network_interface.h"
#include "os/network_probe.h"
#include "os/power.h"
#include "os/service_check.h"
#include "os/single_instance.h"
#include "os/stop_request.h"
#include "os/stop_signals.h"
#include "os/thread_list.h"

std::atomic<bool> aApp::s_running{true};
int aApp::s_startupExitCode = -1;

namespace {

constexpr auto kStopRepeat = std::chrono::milliseconds(200);

// The process-wide folders of start-up; written once on the GUI
// thread during start-up, read afterwards.
std::wstring& logFolderPath() {
    static std::wstring path;
    return path;
}
std::wstring& dataFolderPath() {
    static std::wstring path;
    return path;
}

const wchar_t* word(bool value) { return value ? L"true" : L"false"; }

std::wstring threadList() { return os::getThreadIdList(); }

/// What boost knows of the exception in flight; the fixed words when it
/// carries nothing of boost's.
std::string diagnosticInformation(const std::exception* error) {
    if (error != nullptr && dynamic_cast<const boost::exception*>(error) == nullptr)
        return "No diagnostic information available.";
    return boost::current_exception_diagnostic_information();
}

/// The text an error box shows for an exception: the notification
/// (translated when it is a code word of the catalogue), then the details;
/// a system error by its cause in words (and the file it concerns).
std::wstring operatorText(const std::exception& error) {
    if (const auto* ours = dynamic_cast<const exception::Base*>(&error)) {
        std::wstring text = wxGetTranslation(ours->getNotification()).ToStdWstring();
        if (!ours->getDetails().empty()) text += L"\n" + ours->getDetails();
        return text;
    }
    if (const auto* file = dynamic_cast<const boost::filesystem::filesystem_error*>(&error))
        return L"'" + base::fromUtf8(file->path1().string()) + L"': " + base::errorForOperator(file->code());
    if (const auto* system = dynamic_cast<const boost::system::system_error*>(&error))
        return base::errorForOperator(system->code());
    if (const auto* system = dynamic_cast<const std::system_error*>(&error))
        return base::errorForOperator(system->code());
    return base::toWide(error.what());
}

}  // namespace

aApp::aApp() {
    m_probes.hasStream = [](const std::string& interfaceIp, const std::string& groupAndPort) {
        return os::hasStream(interfaceIp, groupAndPort);
    };
    m_probes.isSecondServerRunning = [] { return os::isStartedSonvarV2(); };
}

aApp::~aApp() {
    // A start-up that ended early never reaches OnExit; its threads end here,
    // before the application object they queue to goes away.
    stopStopListeners();
    if (m_activityFilter) wxEvtHandler::RemoveFilter(m_activityFilter.get());
}

const std::wstring& aApp::logFolder() { return logFolderPath(); }
const std::wstring& aApp::dataFolder() { return dataFolderPath(); }

// ---- start-up ----------------------------------------------------------------

bool aApp::OnInit() {
    try {
        const bool started = startUp();
        if (!started) {
            if (m_stopRequested && s_startupExitCode < 0)
                s_startupExitCode = 0;  // it was a stop, not a refusal
            base::flushLog();
        }
        return started;
    } catch (const exception::StopProgram&) {
        base::flushLog();
        return false;
    } catch (const std::exception& error) {
        base::Log::echoToDebugger(L"aApp::OnInit(). Caught an exception.");
        base::Log::echoToDebugger(base::toWide(error.what()));
        reportStartupFailure(operatorText(error));
        os::writeMiniDump(nullptr);
        return false;
    }
}

bool aApp::startUp() {
    // Locale: UTF-8 characters, C numbers (the settings file and every
    // formatted number expect a dot).
    std::setlocale(LC_ALL, "C.UTF-8");
    std::setlocale(LC_NUMERIC, "C");
    m_instance.reset();
    frm::ui::installProgramPresenter();
    base::Log::echoToDebugger(L"Sonvar v1 - Initialization.");

    // The command line.
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(std::string(argv[i].utf8_str()));
    m_options = parseStartOptions(arguments);

    // "--quit" only asks a running copy to stop.
    if (m_options.quit) {
        s_startupExitCode = quitRunningCopy();
        return false;
    }

    // Signals are taken from here on; one that came earlier was held pending.
    startSignalThread();

    // One running copy per user.
    if (!checkSingleInstance()) return false;

    // The data folder, the log and the settings file.
    base::Log::echoToDebugger(L"load preferences");
    if (!loadDebugPref(m_options.debug || m_options.trace)) return false;
    m_settingsMissing = g_pref->isDefault;

    // Russian throughout: our catalogue beside the executable, the toolkit's
    // own and the GTK dialogs.
    const bool russianDialogs = frm::installTranslations(os::getApplicationDirectory());

    const base::LogPlace place("aApp::OnInit");
    // Which thread the GUI runs on, for the thread dumps of the log.
    place.trace2(L"main thread: %1%", static_cast<std::uint64_t>(wxThread::GetCurrentId()));
    place.trace2(L"dump of threads: [%1%]", threadList());
    if (!russianDialogs) place.debug(L"%1%", L"No locale ru_RU.UTF-8: the toolkit's dialogs stay English");

    // The table codec must agree with itself on "Тест".
    const char test[] = "\xD2\xE5\xF1\xF2";
    if (base::toWide(std::string(test)) != toWString(test)) {
        place.fatal(L"Несоответствие преобразования кодовых страниц");
        return false;
    }

    // After the single-instance check: the waiter clears the stop
    // objects of its runtime folder, which a second copy must leave alone.
    startStopThread();

    // Device and GUI jobs run on the dispatcher from here on.
    place.trace(L"Create thread dispatcher. Threads: [%1%]", threadList());
    base::ThreadDispatcher::create();

    // The version banner.
    dbg_puts(INFO, "Sonvar, version %u.%u.%u.%u, compiled at %s %s", 1u, 2u, 0u, 470u, __DATE__, __TIME__);

    // Last words of a crash or an unhandled exception go to the log.
    std::set_terminate(&terminate_func);
    os::installCrashHandlers();

    // The options as parsed.
    place.debug(L"debugMode=%1%, traceMode=%2%, debugOutputMode=%3%, isShowFullScreenAndTop=%4%, quit=%5%",
                word(m_options.debug), word(m_options.trace), word(m_options.output),
                word(m_options.fullScreen), word(false));

    // A server of the second generation on this PC refuses the start.
    place.trace(L"Check running instance... Ran threads: [%1%]", threadList());
    if (m_probes.isSecondServerRunning()) {
        place.info(L"Sonvar V2 is running. Stop V1.");
        tell(L"Запущен Сонвар 2.\n(Остановите для запуска первой версии)", L"Внимание", wxOK | wxCENTRE);
        return false;
    }

    // The data folders, the working folder and the checksum table.
    prepareEnvironment();
    crc32InitTable();

    // The interface to broadcast on, and no other server's stream on our group.
    std::string interfaceIp;
    if (!chooseInterface(interfaceIp)) return false;
    if (!probeStream(interfaceIp)) return false;

    // The chosen interface is kept for the next start.
    pref::setString("net.interfaceIp", base::fromUtf8(interfaceIp));
    initNetwork();

    // The control transport on the base port of the chosen interface.
    place.trace(L"Initialize transfer protocol... Ran threads: [%1%]", threadList());
    m_transport = boost::make_shared<device::TransferProtocol>(basePortSetting(), interfaceIp);

    // The debug and trace modes, for the log.
    if (m_options.debug) dbg_puts(INFO, "debug mode enable");
    if (m_options.trace) dbg_puts(INFO, "trace mode enable");

    // The main window, with the device collection and every page.
    place.trace(L"Create main frame. Threads: [%1%]", threadList());
    m_mainFrame = new frm::MainFrame(m_transport, m_options.debug, m_options.fullScreen);
    m_mainFrame->Bind(wxEVT_DESTROY, &aApp::onMainFrameDestroyed, this);
    // The operator's activity, for the interface lock, from now on.
    m_activityFilter = std::make_unique<frm::ActivityFilter>([this](std::int64_t now) {
        if (m_mainFrame != nullptr) m_mainFrame->setLastActivity(now);
    });
    wxEvtHandler::AddFilter(m_activityFilter.get());

    // The common and the notification streams.
    createStreams(interfaceIp);

    // The alarm channel, the player engine, the player and the player channel.
    m_channelGui =
        std::make_unique<frm::InvokerChannelGui>([](const std::wstring& caption, const std::wstring& text) {
            return frm::ui::askYesNo(text, caption);
        });
    m_itemDataMap = m_mainFrame->shareItemDataMap();
    // One ledger drives the loudspeakers for both channels, so that a notice
    // of the alarm channel stands over the player's volumes.
    const boost::weak_ptr<device::TransferProtocol> transport = m_transport;
    const auto ledger = std::make_shared<frm::LoudspeakerLedger>(std::make_shared<frm::OrvelLink>([transport] {
        const auto running = transport.lock();
        return running && !running->stopping();
    }));
    // The window's volume controls and its deletion of devices go through it too.
    frm::LoudspeakerLedger::setInstance(ledger);
    frm::AlarmChannelOptions alarmOptions;
    alarmOptions.ledger = ledger;
    frm::AlarmChannel::createInstance(m_itemDataMap.get(), m_channelGui.get(), *m_notificationStream, alarmOptions);
    createPlayer();
    frm::PlayerChannel::createInstance(m_itemDataMap.get(), m_channelGui.get(), std::chrono::milliseconds(2800),
                                       ledger);
    frm::registerPlaybackChannels();

    // State files, the GUI clock and the lock timer; the transport starts listening.
    dbg_puts(TRACE, "Startup main frame");
    m_mainFrame->Startup();

    // The PC stays awake while the program runs.
    os::keepSystemAwake(true);

    // The window appears.
    dbg_puts(TRACE, "Show main frame");
    m_mainFrame->Show();
    m_mainFrame->Raise();
    // Test-only: where each control is, for the trial's clicks (only when
    // SONVAR_TEST_WIDGETS names a file).
    m_widgetMap = frm::WidgetMap::fromEnvironment();

    // The first-run note, or what was wrong with the settings file, shown
    // from the event loop after the window; the file's damage as the log's
    // notices are, which could not be shown when it was found.
    if (!g_pref->damageNotice.empty()) {
        GuiThreadInvoker::add([text = g_pref->damageNotice] { dbg_showMessageBox(L"WARN", text); });
    } else if (m_settingsMissing) {
        GuiThreadInvoker::add([] {
            frm::ui::messageBox(
                L"После первого запуска в общих настройка необходимо сменить пароль и выбрать сетевой "
                L"интерфейс для "
                L"вещания",
                L"Информация", wxOK | wxICON_INFORMATION | wxCENTRE);
        });
    }

    // Start-up is complete.
    place.trace2(L"Initialization is complete. dump of threads: [%1%]", threadList());
    m_startupDone = true;
    // A stop that came while nothing could act on it runs now that the
    // window is up.
    if (m_stopRequested) CallAfter(&aApp::onExternalStop);
    return true;
}

int aApp::quitRunningCopy() {
    // Ctrl-C must still end a --quit that waits for the running copy.
    os::unblockStopSignals();
    base::Log::echoToDebugger(L"quit app");
    if (os::stopRunningCopy() != os::QuitResult::StillRunning) return 0;
    std::fputs("sonvar: the running copy did not stop within 40 s\n", stderr);
    return 1;
}

bool aApp::checkSingleInstance() {
    base::Log::echoToDebugger(L"Check running of the app.");
    m_instance = std::make_unique<os::SingleInstance>();
    if (!m_instance->alreadyExists()) return true;
    s_startupExitCode = 2;
    frm::ui::messageBox(L"Копия программы уже запущена.", L"Сообщение", wxOK | wxCENTRE);
    return false;
}

bool aApp::loadDebugPref(bool forceTrace3) {
    // The data folder and the log folder in it.
    std::wstring folder;
    if (!os::prepareDataDirectory(folder)) {
        frm::ui::messageBox(L"Не удалось получить путь папке логирования", L"Error", wxOK | wxICON_ERROR);
        return false;
    }
    logFolderPath() = folder + L"/log";
    os::createFolders(logFolderPath());
    // The log, at INFO until the settings say otherwise.
    dbg_init(false, INFO, logFolderPath().c_str());
    // The banner that opens each run in the log.
    const base::LogPlace place("aApp::loadDebugPref");
    place.info(L"--------------------------------- %1% %2% ---------------------------------", L"Sonvar",
               L"1.2.0.470");
    // The settings file in the data folder.
    std::wstring settingsPath;
    if (!os::prepareDataDirectory(settingsPath))
        dbg_abort("get_appdir_fileext(path, L\".cfg\") == false", "aApp::loadDebugPref");
    settingsPath += L"/sonvar.cfg";
    base::Log::echoToDebugger(L"It is a path to config:");
    base::Log::echoToDebugger(settingsPath);
    // Read it, or take the defaults when it is missing or damaged.
    pref_init(settingsPath);
    // The log level of the settings; setLevel also sets the debugger echo (on at the trace levels).
    base::Log::setLevel(debugLevelSetting(forceTrace3));
    // A first run has no settings file yet.
    if (g_pref->isDefault) place.info(L"Файл настроек не найден - исполюзуются по умолчанию.");
    // Folders of a moved 1.1 data folder no longer exist: the defaults stand for them.
    if (os::dataDirectoryMigrated()) {
        for (const char* key :
             {"place.pathDirGong", "place.pathDirServiceMessage", "place.pathDirAlarmMessage",
              "place.pathDirRecordedMessage", "place.pathFileGong"})
            pref::setString(key, std::wstring());
    }
    return true;
}

void aApp::prepareEnvironment() {
    std::wstring folder;
    os::prepareDataDirectory(folder);
    dataFolderPath() = folder;
    os::setCurrentDirectory(folder);
    Bind(wxEVT_QUERY_END_SESSION, &aApp::OnQueryEndSession, this);
}

bool aApp::chooseInterface(std::string& chosen) {
    const std::string savedIp = base::toUtf8(pref::getString("net.interfaceIp"));
    const std::wstring savedDescription = pref::getString("net.interfaceDescription");
    if (!savedIp.empty() && !os::hasNetworkInterface(savedIp) &&
        !ask(L"IP-адрес сетевого интерфейса недоступен, выбрать автоматически другой?", L"Предупреждение", 0))
        return false;
    if (os::getNetworkInterfaceList().empty()) {
        base::LogPlace("aApp::OnInit").important(L"The PC hasn't network interfaces.");
        tell(L"В системе нет ни одного сетевого интерфейса", L"Внимание",
             wxOK | wxICON_INFORMATION | wxCENTRE);
        return false;
    }
    chosen = os::nameToIp(savedIp, savedDescription);
    base::LogPlace("aApp::OnInit")
        .trace(L"selected adapter ip '%s'. (saved interface '%S' with ip '%s')", chosen, savedDescription,
               savedIp);
    return true;
}

bool aApp::probeStream(const std::string& interfaceIp) {
    const std::string group =
        multicastAddressSetting() + ":" + std::to_string(device::streamPortOf(basePortSetting(), device::CHANNEL_DISCOVERY));
    if (!m_probes.hasStream(interfaceIp, group)) return true;
    return ask(L"В сети обнаружен аудио-поток,\nзапустить Сонвар?", L"Предупреждение", wxICON_INFORMATION);
}

void aApp::initNetwork() {
    // The BSD sockets need no start-up; the line stays for those who read logs.
    LOG_TRACE(L"Startup %s, used v%u.%u, avaliable v%u.%u", L"BSD sockets", 2u, 2u, 2u, 2u);
}

void aApp::createStreams(const std::string& interfaceIp) {
    const base::LogPlace place("aApp::OnInit");
    const std::string address = multicastAddressSetting();
    const unsigned basePort = basePortSetting();
    const int ttl = pref::getInt("multicast.ttl", 1);

    place.trace(L"Initialize common stream. Threads: [%1%]", threadList());
    m_commonStream = mp3stream_init();
    m_commonStream->set_pcm_fmt(44100, 2, 16);
    m_commonStream->set_stream_endp(
        (address + ":" + std::to_string(device::streamPortOf(basePort, device::CHANNEL_DISCOVERY))).c_str());
    m_commonStream->set_stream_fmt(
        static_cast<std::uint32_t>(pref::getInt("multicast.commonStream.bitrate", 128)));
    m_commonStream->set_stream_ttl(static_cast<std::uint32_t>(ttl));
    if (!interfaceIp.empty()) m_commonStream->set_address_interface(interfaceIp.c_str(), interfaceIp.size());
    const bool active = pref::getBool("multicast.commonStream.active", true);
    const bool zeroPing = pref::getBool("multicast.zeroPing", true);
    if (active) {
        place.trace2(L"create stream. Threads: [%1%]", threadList());
        m_commonStream->libvlc_create();
        m_commonStream->libvlc_imem_create();
        if (!zeroPing) m_commonStream->stream_start();
    }

    place.trace(L"Initialize alarm stream. Threads: [%1%]", threadList());
    m_notificationStream = mp3streamf_init();
    m_notificationStream->set_stream_endp(
        (address + ":" + std::to_string(device::streamPortOf(basePort, device::CHANNEL_NOTICE_HIGH))).c_str());
    m_notificationStream->set_stream_fmt(
        static_cast<std::uint32_t>(pref::getInt("multicast.messagesStream.bitrate", 128)));
    m_notificationStream->set_stream_ttl(static_cast<std::uint32_t>(ttl));
    m_notificationStream->set_address_interface(interfaceIp.c_str(), interfaceIp.size());
}

void aApp::createPlayer() {
    base::LogPlace("aApp::OnInit").trace(L"Initialize player. Threads: [%1%]", threadList());
    // The plug-ins' end of track and title changes reach the GUI thread
    // through the invoker, which drops them once the window has shut down.
    m_hostWindow =
        std::make_unique<HostWindow>([](HostWindow::Task task) { GuiThreadInvoker::add(std::move(task)); });
    PlayerEngine* engine = player_engine_init(m_hostWindow->handle(), m_commonStream);
    m_hostWindow->attach(engine);
    engine->set_host([](std::function<void()> task) { GuiThreadInvoker::add(std::move(task)); },
                     [this](const std::wstring&) {
                         if (m_mainFrame != nullptr) m_mainFrame->UpdatePlayingTitle();
                     });
    Player::create(engine);
}

void aApp::reportStartupFailure(const std::wstring& text) {
    // The box first: once the main window exists, an ERROR line also queues
    // a box of its own, which no event loop will run after a failed start.
    if (!m_stopRequested) frm::ui::messageBox(text, L"Ошибка", wxOK | wxICON_ERROR | wxCENTRE);
    base::LogPlace("aApp::OnInit").error(L"Запуск программы прерван: '%1%'", text);
    base::flushLog();
}

bool aApp::ask(const wxString& text, const wxString& caption, long extraStyle) {
    // A stop asked for during start-up answers every start-up question No.
    if (m_stopRequested) return false;
    return frm::ui::askYesNo(text, caption, extraStyle | wxCENTRE) && !m_stopRequested;
}

void aApp::tell(const wxString& text, const wxString& caption, long style) {
    if (!m_stopRequested) frm::ui::messageBox(text, caption, style);
}

// ---- the event loop ----------------------------------------------------------

int aApp::OnRun() {
    for (;;) {
        try {
            return wxApp::OnRun();
        } catch (const std::exception& error) {
            LOG_ERROR(L"Получено исключение в главном потоке: '%1%', '%2%'", error.what(),
                      diagnosticInformation(&error));
        } catch (...) {
            LOG_ERROR(L"Получено неизвестное исключение в главном потоке: '%1%'",
                      diagnosticInformation(nullptr));
        }
        os::writeMiniDump(nullptr);
    }
}

bool aApp::OnExceptionInMainLoop() {
    const base::LogPlace place("aApp::OnExceptionInMainLoop");
    place.trace(L"There occurs an exception in main loop");
    try {
        throw;
    } catch (const exception::Offline&) {
        place.notice(L"Устройство не в сети.");
    } catch (const exception::InternalError& error) {
        if (error.getDetails().empty())
            place.error(L"Произошла внутренняя ошибка.\nСообщение: '%1%'", error.getNotification());
        else
            place.error(L"Произошла внутренняя ошибка.\nСообщение: '%1%'\nОписание: '%2%'",
                        error.getNotification(), error.getDetails());
        os::writeMiniDump(nullptr);
    } catch (const exception::ExternalError& error) {
        if (error.getDetails().empty())
            place.notice(L"Сообщение: '%1%'", error.getNotification());
        else
            place.notice(L"Сообщение: '%1%'\nОписание: '%2%'", error.getNotification(), error.getDetails());
    } catch (const exception::StopProgram&) {
        base::flushLog();
        exitWithCode(1);
    } catch (const boost::exception&) {
        place.error(L"Получено исключение в главном цикле обработки: '%1%' (boost)",
                    diagnosticInformation(nullptr));
        os::writeMiniDump(nullptr);
    } catch (const std::exception& error) {
        place.error(L"Получено исключение в главном цикле обработки: '%1%', '%2%' (std)", error.what(),
                    diagnosticInformation(&error));
        os::writeMiniDump(nullptr);
    } catch (...) {
        place.error(L"Получено неизвестное исключение в главном цикле обработки: '%1%'",
                    diagnosticInformation(nullptr));
        os::writeMiniDump(nullptr);
    }
    base::flushLog();
    return true;
}

void aApp::CallEventHandler(wxEvtHandler* handler, wxEventFunctor& functor, wxEvent& event) const {
    // wx's own guard (SafelyProcessEvent) covers only some of the paths into
    // a handler. GTK's page switch of a notebook, the idle pass and the queue
    // of posted events (the invoker's tasks among them) call ProcessEvent
    // bare, and an exception from there unwound through g_signal_emit or the
    // GLib idle source: GTK was left mid-emission and crashed or spun later.
    try {
        wxApp::CallEventHandler(handler, functor, event);
    } catch (...) {
        const_cast<aApp*>(this)->consumeHandlerException();
    }
}

void aApp::ProcessPendingEvents() {
    // The queue drops each event before it runs it, so every pass after an
    // exception is shorter by one.
    for (;;) {
        try {
            wxApp::ProcessPendingEvents();
            return;
        } catch (...) {
            consumeHandlerException();
        }
    }
}

void aApp::consumeHandlerException() noexcept {
    try {
        OnExceptionInMainLoop();
    } catch (...) {
        // The sorting itself failed (no memory for the log line): the loop
        // still goes on.
        try {
            base::Log::echoToDebugger(L"aApp: an exception while sorting an exception of an event handler");
        } catch (...) {
        }
    }
}

void aApp::OnUnhandledException() {
    base::LogPlace("aApp::OnUnhandledException").debug(L"OnUnhandledException");
    os::writeMiniDump(nullptr);
    base::flushLog();
    wxMilliSleep(1000);
}

void terminate_func() {
    base::LogPlace("terminate_func").debug(L"terminate func");
    base::flushLog();
    os::dumpMemory();
    wxMilliSleep(1000);
    std::_Exit(1);
}

void aApp::exitWithCode(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}

frm::MainFrame* aApp::GetMainFrame() {
    if (m_mainFrame == nullptr) dbg_abort("m_mainFrame == NULL", "aApp::GetMainFrame");
    return m_mainFrame;
}

void aApp::onMainFrameDestroyed(wxWindowDestroyEvent& event) {
    if (event.GetEventObject() == m_mainFrame) m_mainFrame = nullptr;
    event.Skip();
}

void aApp::OnQueryEndSession(wxCloseEvent& event) {
    try {
        if (m_mainFrame != nullptr) {
            // A box or dialog still open would be destroyed under its own
            // modal loop by a plain shutdown: end those first, as any stop
            // from outside does.
            if (frm::ui::openCount() > 0)
                m_mainFrame->stopFromOutside();
            else
                m_mainFrame->Shutdown();
        }
    } catch (const std::exception& error) {
        base::Log::echoToDebugger(L"aApp::OnQueryEndSession(). Caugth an exception.");
        base::Log::echoToDebugger(base::toWide(error.what()));
        os::writeMiniDump(nullptr);
    }
    event.Skip();
}

// ---- the stop from outside -----------------------------------------------------

void aApp::startSignalThread() {
    m_signalThread = std::make_unique<os::StopSignalThread>([this](int signal) {
        if (!isRunning()) return;
        debug::debug_safe(L"Stop signal %1%", signal);
        requestExternalStop();
    });
}

void aApp::startStopThread() {
    std::promise<void> ended;
    m_stopThreadEnded = ended.get_future();
    m_stopThread = std::thread([this, ended = std::move(ended)]() mutable {
        stopAppThread();
        ended.set_value();
    });
}

void aApp::stopStopListeners() {
    s_running = false;
    m_signalThread.reset();
    if (!m_stopThread.joinable()) return;
    // The thread may not wait yet: notify until it has ended.
    try {
        do {
            stopAppCopy();
        } while (m_stopThreadEnded.wait_for(kStopRepeat) != std::future_status::ready);
    } catch (const std::exception& error) {
        // Nothing can wake it: it ends with the process.
        debug::error_safe(L"The stop thread cannot be woken: '%1%'", error.what());
        m_stopThread.detach();
        return;
    }
    m_stopThread.join();
}

void aApp::stopAppThread() {
    debug::trace2_safe(L"stopAppThread [begin]: %1%", static_cast<std::uint64_t>(wxThread::GetCurrentId()));
    try {
        os::StopRequestWaiter waiter;
        waiter.wait([] { debug::trace_safe(L"stopAppThread: [wait]"); });
        debug::trace_safe(L"stopAppThread: [condition is true]");
    } catch (const boost::interprocess::interprocess_exception& error) {
        const bool other = error.get_error_code() == boost::interprocess::other_error;
        const wchar_t* format =
            L"An exception caught in the 'stopAppThread': an error code is '%1%', an native error code is "
            L"'%2%', "
            L"an text error is '%3%'";
        if (other) {
            debug::debug_safe(format, static_cast<int>(error.get_error_code()), error.get_native_error(),
                              error.what());
            return;
        }
        debug::error_safe(format, static_cast<int>(error.get_error_code()), error.get_native_error(),
                          error.what());
    } catch (const std::exception& error) {
        debug::error_safe(L"An exception caught in the 'stopAppThread': an text error is '%1%'",
                          error.what());
        os::writeMiniDump(nullptr);
    }
    if (!isRunning()) {
        debug::trace_safe(L"stopAppThread: [end]");
        return;
    }
    debug::debug_safe(L"stopAppThread: [external stop]");
    requestExternalStop();
}

void aApp::requestExternalStop() {
    if (!m_stopQueued.exchange(true)) CallAfter(&aApp::onExternalStop);
}

void aApp::onExternalStop() {
    // A queued call runs outside the toolkit's handler guard: an exception is
    // sorted here as one out of a handler would be.
    try {
        stopFromOutside();
    } catch (...) {
        OnExceptionInMainLoop();
    }
}

void aApp::stopFromOutside() {
    LOG_DEBUG(L"External stop: main window %1%, start-up done %2%, open boxes %3%",
              word(m_mainFrame != nullptr), word(m_startupDone), frm::ui::openCount());
    // Nobody answers any more: a box queued before the stop (the first-run
    // note) must not open inside the shutdown and hold it.
    frm::ui::cancelFromNowOn(true);
    if (m_mainFrame != nullptr && m_startupDone) {
        m_mainFrame->stopFromOutside();
        return;
    }
    // Start-up still runs: remember the stop, and answer an open start-up
    // question No, which ends start-up. With nothing open the stop runs when
    // the window is up (the end of startUp).
    m_stopRequested = true;
}

void aApp::stopAppCopy() {
    base::Log::echoToDebugger(L"aApp::stopAppCopy().condition.");
    os::notifyStopRequest();
}

// ---- exit ----------------------------------------------------------------------

int aApp::OnExit() {
    try {
        m_widgetMap.reset();
        // No more activity for the lock timer; what the log holds is written.
        s_running = false;
        base::flushLog();
        if (m_activityFilter) {
            wxEvtHandler::RemoveFilter(m_activityFilter.get());
            m_activityFilter.reset();
        }
        // The PC may sleep again.
        os::keepSystemAwake(false);
        // The channels end their threads before the player and the streams go.
        frm::unregisterPlaybackChannels();
        frm::PlayerChannel::destroyInstance();
        frm::AlarmChannel::destroyInstance();
        m_itemDataMap.reset();
        base::flushLog();
        // The player, the engine and both streams.
        freeAudio();
        // The dispatcher: no job runs any more.
        base::ThreadDispatcher::destroy();
        base::flushLog();
        // The settings were saved by the main window's shutdown.
        pref_free();
        // The stop listeners of the external stop and the signals.
        stopStopListeners();
        // The last lines of the log.
        base::LogPlace("aApp::OnExit").trace2(L"dump of threads: [%1%]", threadList());
        dbg_puts(INFO, "--------------------------------- END LOG ---------------------------------");
        base::Log::destroy();
        // The single-instance lock goes last.
        m_instance.reset();
        return 0;
    } catch (const std::exception& error) {
        base::Log::echoToDebugger(L"aApp::OnExit(). Caught an exception.");
        base::Log::echoToDebugger(base::toWide(error.what()));
        os::writeMiniDump(nullptr);
        return 1;
    }
}

void aApp::freeAudio() {
    Player::destroy();
    dbg_puts(TRACE2, "%s(..)", "player_free");
    if (g_player_engine == nullptr) dbg_abort("p == NULL", "player_free");
    if (m_hostWindow) m_hostWindow->attach(nullptr);
    delete g_player_engine;
    g_player_engine = nullptr;
    m_hostWindow.reset();

    dbg_puts(TRACE2, "%s(..)", "mp3streamf_free");
    if (m_notificationStream == nullptr) dbg_abort("p == NULL", "mp3streamf_free");
    delete m_notificationStream;
    m_notificationStream = nullptr;

    dbg_puts(TRACE2, "%s(..)", "mp3stream_free");
    if (m_commonStream == nullptr) dbg_abort("p == NULL", "mp3stream_free");
    delete m_commonStream;
    m_commonStream = nullptr;
}

// ---- entry ---------------------------------------------------------------------

int runSonvar(int argc, char** argv, const std::function<void(aApp&)>& configure) {
    // Asking the running copy to stop needs no display: a --quit from a
    // terminal without one (a service script, a remote shell) still works.
    if (parseStartOptions(std::vector<std::string>(argv + std::min(argc, 1), argv + argc)).quit)
        return aApp::quitRunningCopy();
    auto* app = new aApp;
    if (configure) configure(*app);
    wxApp::SetInstance(app);
    const int code = wxEntry(argc, argv);  // deletes the application object
    return aApp::startupExitCode() >= 0 ? aApp::startupExitCode() : code;
}

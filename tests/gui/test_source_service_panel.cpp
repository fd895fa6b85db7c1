// The service and alarm message pages edited as an operator does it, through
// their handlers and the events of their controls: groups and messages with
// the choices filled from folders of the test, deletion that asks the
// scheduler page, the tree as the scheduler and the microphone page see it,
// and the tree files written and read through the page.
#include <gtest/gtest.h>

#include "audio/playlist.h"
#include "base/pref.h"
#include "tests/gui/message_page.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/ui_script.h"
#include "tests/support/counting_log_fixture.h"

using namespace message_testing;
using Texts = std::vector<std::wstring>;

namespace {

enum { kCreateGroup = 0, kAddMessage = 1, kDelete = 2 };

/// Where the playbacks of collectTracks go when they are executed.
struct RecordingChannels : frm::PlaybackChannels {
    Texts played;
    void playOnPlayerChannel(boost::shared_ptr<Playlist> playlist, const frm::DeviceSet&,
                             int volume) override {
        for (const auto& item : playlist->getItems())
            played.push_back(std::to_wstring(volume) + L" " + item.path);
    }
    bool launchOnAlarmChannel(const std::wstring& description, const frm::DeviceSet&,
                              const std::wstring& message, const std::wstring& gong, int volume,
                              boost::function<void(int)>) override {
        played.push_back(std::to_wstring(volume) + L" " + description + L" " + message + L"|" + gong);
        return true;
    }
};

class MessagePage : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(m_dir.widePath() + L"/sonvar.cfg");
        fire = folders.put("data/service/Пожар.mp3");
        evacuation = folders.put("data/service/Эвакуация.mp3");
        folders.put("data/service/readme.txt");
        alarmFile = folders.put("data/alarm/Тревога.mp3");
        recording = folders.put("data/record/Запись 1.mp3");
        chime = folders.put("gongs/Гонг.mp3");
    }
    void TearDown() override {
        for (Page* page : pages) page->GetParent()->Destroy();
        wx_testing::runEventLoopFor(std::chrono::milliseconds(20));
        frm::PlaybackChannels::set(nullptr);
        pref_free();
        CountingLogFixture::TearDown();
    }
    Page* open(bool alarm) {
        pages.push_back(showPage(&scheduler, alarm, folders.outside(&usedFiles, &checked)));
        return pages.back();
    }
    static Texts texts(wxChoice* choice) {
        Texts all;
        for (unsigned i = 0; i < choice->GetCount(); ++i) all.push_back(choice->GetString(i).ToStdWstring());
        return all;
    }

    Folders folders{m_dir.path()};
    FakeScheduler scheduler;
    std::set<std::wstring> usedFiles;
    Texts checked;
    std::vector<Page*> pages;
    std::wstring fire, evacuation, alarmFile, recording, chime;
};

}  // namespace

TEST_F(MessagePage, GroupsAndMessagesAreRefusedInOrderAndKeepTheChosenFiles) {
    Page* page = open(false);
    EXPECT_EQ(page->execute->GetLabel(), L"Создать группу");
    EXPECT_FALSE(page->filePanel->IsShown());
    ui_testing::ScriptedUi answers;
    answers.expect(L"Внимание", wxID_OK);
    for (int i = 0; i < 5; ++i) answers.expect(L"Сообщение", wxID_OK);
    answers.expect(L"Внимание", wxID_OK);

    for (const wchar_t* group : {L"Эвакуация", L"эвакуация", L"Эвакуация", L""}) page->run(group);
    EXPECT_EQ(page->messageTree->GetCount(), 2u) << "letter case counts";
    page->choose(kAddMessage);
    EXPECT_EQ(page->execute->GetLabel(), L"Добавить сообщение");
    EXPECT_EQ(texts(page->gong), (Texts{L"", L"Гонг"}));
    EXPECT_EQ(texts(page->message), (Texts{L"Пожар", L"Эвакуация", L"Запись 1"}))
        << "own folder, then recordings";
    page->run(L"");
    page->run(L"Этаж 2");  // nothing selected yet
    page->select(L"Эвакуация");
    page->message->SetSelection(wxNOT_FOUND);
    page->run(L"Этаж 2");
    page->message->SetSelection(0);
    page->gong->SetSelection(1);
    page->run(L"Этаж 2");
    page->select(L"Эвакуация", L"Этаж 2");
    page->run(L"Этаж 3");
    page->select(L"Эвакуация");
    page->run(L"Этаж 2");
    page->fill(L"Проверка", {{L"Этаж 2", 2}}, 0);

    Texts shown;
    for (const auto& box : answers.shown()) shown.push_back(box.text);
    EXPECT_EQ(shown,
              (Texts{L"Одинаковое название группы", L"Введите название группы", L"Введите название сообщения",
                     L"Выделите группу", L"Необходимо выбрать сообщение", L"Необходимо выделить группу",
                     L"Одинаковое название в группе"}));
    EXPECT_EQ(page->titles(), (Texts{L"Эвакуация: Этаж 2", L"Проверка: Этаж 2"}));
    page->select(L"Эвакуация", L"Этаж 2");
    EXPECT_EQ(page->selected()->messagePath + L"|" + page->selected()->gongPath, fire + L"|" + chime);
    page->select(L"Проверка", L"Этаж 2");
    EXPECT_EQ(page->selected()->messagePath + L"|" + page->selected()->gongPath, recording + L"|");
}

TEST_F(MessagePage, DeletingAsksTheSchedulerByTitleAndByFileAndAGroupHasNoFile) {
    Page* page = open(false);
    page->fill(L"Эвакуация", {{L"Этаж 1", 0}, {L"Этаж 2", 1}}, 0);
    page->fill(L"Проверка", {{L"Тест", 1}}, 0);
    page->choose(kDelete);
    EXPECT_FALSE(page->namePanel->IsShown());

    scheduler.used = {L"Эвакуация: Этаж 2"};
    for (const Texts& item : {Texts{L"Эвакуация", L"Этаж 2"}, Texts{L"Эвакуация"}}) {
        page->select(item[0], item.size() > 1 ? item[1] : L"");
        page->click(page->execute);
    }
    EXPECT_EQ(loggedCount("Выбранная единица воспроизведения входит в задание", "NOTICE"), 2);
    EXPECT_EQ(scheduler.asked, (Texts{L"Эвакуация: Этаж 2", L"Эвакуация: Этаж 1", L"Эвакуация: Этаж 2"}));

    scheduler.used.clear();
    usedFiles = {fire, L""};  // a check that would take a group's empty path for a file
    page->select(L"Эвакуация", L"Этаж 1");
    page->click(page->execute);
    EXPECT_EQ(loggedCount("Невозможно удалить сообщение, т.к. оно используется планировщиком", "NOTICE"), 1);
    checked.clear();
    page->select(L"Проверка");
    page->click(page->execute);
    page->select(L"Эвакуация", L"Этаж 2");
    page->click(page->execute);
    EXPECT_EQ(checked, (Texts{evacuation})) << "a group is deleted without asking about a file";
    EXPECT_EQ(page->titles(), (Texts{L"Эвакуация: Этаж 1"}));
    EXPECT_EQ(page->status->GetLabel(), L"") << "nothing of a deleted message stays on show";

    page->messageTree->UnselectAll();
    page->click(page->execute);
    EXPECT_EQ(page->titles().size(), 1u);
    EXPECT_EQ(loggedCount("There is no selection to delete an action", "DEBUG"), 1);
}

TEST_F(MessagePage, DeletingATopLevelGroupLeavesNoSelectionAndNoError) {
    for (bool alarm : {false, true}) {
        Page* page = open(alarm);
        page->fill(L"Эвакуация", {{L"Этаж 1", 0}}, 0);
        page->fill(L"Проверка", {{L"Тест", 0}}, 0);
        page->choose(kDelete);
        for (const wchar_t* group : {L"Проверка", L"Эвакуация"}) {
            page->select(group);
            page->click(page->execute);
            // The toolkit picks what is selected next at idle time, the
            // hidden root among others.
            wx_testing::runEventLoopFor(std::chrono::milliseconds(50));
        }
        EXPECT_TRUE(page->titles().empty());
        EXPECT_EQ(page->status->GetLabel(), L"");
        page->click(page->play);
        page->click(page->execute);
    }
    EXPECT_EQ(loggedCount("", "ERROR"), 0);
    EXPECT_EQ(loggedCount("Выберите сообщение для запуска", "NOTICE"), 2) << "the root is no message";
    EXPECT_EQ(loggedCount("There is no selection to delete an action", "DEBUG"), 2) << "nor something to delete";
}

TEST_F(MessagePage, TheTreeAsTheSchedulerAndTheMicrophonePageSeeIt) {
    RecordingChannels channels;
    frm::PlaybackChannels::set(&channels);
    pref::create(g_pref, "volume.serviceMessage2", pref::Type::TypeInt) = 77;
    Page* service = open(false);
    service->fill(L"Эвакуация", {{L"Этаж 1", 0}, {L"Этаж 2", 2}}, 1);
    Page* alarm = open(true);
    alarm->fill(L"Тревога", {{L"Пожар", 0}}, 1);
    EXPECT_EQ(texts(alarm->message), (Texts{L"Тревога", L"Запись 1"}));

    // As playbacks the service page's messages go to the player channel at
    // the service volume, the alarm page's to the alarm channel at 100; the
    // gong is the task's to choose.
    for (Page* page : {service, alarm})
        for (const auto& track : page->collectTracks()) track->execute();
    EXPECT_EQ(channels.played,
              (Texts{L"77 " + fire, L"77 " + recording, L"100 Расписание " + alarmFile + L"|"}));

    EXPECT_TRUE(service->isMessageUsed(L"Запись 1.mp3"));
    EXPECT_FALSE(service->isMessageUsed(L"запись 1.mp3")) << "letter case counts";
    EXPECT_FALSE(alarm->isMessageUsed(L"Запись 1.mp3"));
    service->choose(kDelete);
    service->select(L"Эвакуация", L"Этаж 2");
    service->click(service->execute);
    EXPECT_FALSE(service->isMessageUsed(L"Запись 1.mp3")) << "each walk starts afresh";

    // The settings name other folders; the microphone page's folder ends
    // with "/".
    pref::setString("place.pathDirAlarmMessage", folders.path("elsewhere"));
    folders.put("elsewhere/Другая.mp3");
    folders.put("mic/Микрофон.mp3");
    frm::SourceServicePanel::Outside outside = folders.outside(&usedFiles, &checked);
    outside.recordFolder = [this] { return folders.path("mic") + L"/"; };
    pages.push_back(showPage(&scheduler, true, outside));
    pages.back()->refreshChoices();
    EXPECT_EQ(texts(pages.back()->message), (Texts{L"Другая", L"Микрофон"}));
}

TEST_F(MessagePage, TheSelectionIsDescribedAndOnlyAMessagePlays) {
    Page* page = open(false);
    page->fill(L"Эвакуация", {{L"Этаж 1", 0}, {L"Этаж 2", 1}}, 1);
    page->select(L"Эвакуация", L"Этаж 1");
    EXPECT_EQ(page->status->GetLabel(), L"Название:\n'Этаж 1'\nГонг:\n'Гонг'\nСообщение:\n'Пожар'");
    page->select(L"Эвакуация");
    EXPECT_EQ(page->status->GetLabel(), L"");
    page->click(page->play);
    EXPECT_EQ(loggedCount("Выберите сообщение для запуска", "NOTICE"), 1);

    page->select(L"Эвакуация", L"Этаж 2");
    wx_testing::writeShot(page->GetParent(), "message_page_service");
    Page* alarm = open(true);
    alarm->fill(L"Пожарная тревога", {{L"Всем покинуть здание", 0}}, 1);
    alarm->select(L"Пожарная тревога", L"Всем покинуть здание");
    alarm->choose(kDelete);
    wx_testing::writeShot(alarm->GetParent(), "message_page_alarm");
}

TEST_F(MessagePage, TheTreeFileThroughThePageAndAPartlyBrokenOneKeepsItsOriginal) {
    const std::wstring file = folders.path("service_message.xml");
    Page* page = open(false);
    page->fill(L"Эвакуация", {{L"Этаж 1", 0}, {L"Этаж 2", 2}}, 1);
    page->save(file);
    Page* loaded = open(false);
    loaded->load(file);
    EXPECT_EQ(loaded->titles(), page->titles());
    loaded->select(L"Эвакуация", L"Этаж 1");
    EXPECT_EQ(loaded->selected()->gongPath, chime);

    // The alarm page finds a moved message in its own folder; a message at
    // the top level (a hand-written file) is deleted under ": <name>".
    const std::string broken =
        "<tree><group><name>Тревога</name><message><name>Пожар</name><message>/old/Тревога.mp3</"
        "message><gong/>"
        "</message><message><name>x</name></message></group><message><name>Верх</name><message>/m/top.mp3"
        "</message><gong/></message></tree>";
    folders.put("alarm_message.xml", broken);
    Page* alarm = open(true);
    alarm->load(folders.path("alarm_message.xml"));
    alarm->select(L"Тревога", L"Пожар");
    EXPECT_EQ(alarm->selected()->messagePath, alarmFile);
    EXPECT_EQ(alarm->titles(), (Texts{L"Тревога: Пожар", L": Верх"}));
    EXPECT_EQ(testing_support::readFile(m_dir.path() + "/alarm_message.xml.bad"), broken);
    alarm->choose(kDelete);
    alarm->select(L"Верх");
    alarm->click(alarm->execute);
    EXPECT_EQ(scheduler.asked, (Texts{L": Верх"}));
    EXPECT_EQ(alarm->titles(), (Texts{L"Тревога: Пожар"}));
}

// The service and alarm message pages edited as an operator does it, through
// their handlers and the events of their controls: groups and messages,
// the choices filled from folders of the test, deletion that asks the
// scheduler page, the tree as the scheduler and the microphone page see it,
// and the tree files written and read through the page.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "audio/playback.h"
#include "audio/playlist.h"
#include "base/pref.h"
#include "base/storage.h"
#include "tests/gui/message_page.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/store_support.h"
#include "tests/gui/ui_script.h"
#include "tests/support/counting_log_fixture.h"

using namespace message_testing;
using Texts = std::vector<std::wstring>;

namespace {

enum { kCreateGroup = 0, kAddMessage = 1, kDelete = 2 };

/// Where the playbacks of collectTracks go when they are executed.
struct RecordingChannels : frm::PlaybackChannels {
    std::vector<std::wstring> played;
    void playOnPlayerChannel(boost::shared_ptr<Playlist> playlist, const frm::DeviceSet&,
                             int volume) override {
        for (const auto& item : playlist->getItems())
            played.push_back(L"player " + std::to_wstring(volume) + L" " + item.path);
    }
    bool launchOnAlarmChannel(const std::wstring& description, const frm::DeviceSet&,
                              const std::wstring& message, const std::wstring& gong, int volume,
                              boost::function<void(int)>) override {
        played.push_back(L"alarm " + std::to_wstring(volume) + L" " + description + L" " + message + L"|" +
                         gong);
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
        for (wxFrame* frame : frames) frame->Destroy();
        wx_testing::runEventLoopFor(std::chrono::milliseconds(20));
        frm::PlaybackChannels::set(nullptr);
        pref_free();
        CountingLogFixture::TearDown();
    }
    Page* open(bool alarm) {
        auto* page = new Page(
            new wxFrame(nullptr, wxID_ANY, alarm ? "alarm" : "service", wxPoint(0, 0), wxSize(900, 520)),
            &scheduler, nullptr, alarm, folders.outside(&usedFiles, &checked));
        frames.push_back(showInFrame(page));
        return page;
    }
    /// A group with messages named after the files of the message choice
    /// (by their position there) and, when given, the gong of that line.
    void fill(Page* page, const std::wstring& group,
              const std::vector<std::pair<std::wstring, int>>& messages, int gongLine = 0) {
        page->choose(kCreateGroup);
        page->run(group);
        page->choose(kAddMessage);
        for (const auto& [text, line] : messages) {
            page->messageTree->SelectItem(page->item(group));
            page->gong->SetSelection(gongLine);
            page->message->SetSelection(line);
            page->run(text);
        }
    }
    static Texts choices(wxChoice* choice) {
        Texts texts;
        for (unsigned i = 0; i < choice->GetCount(); ++i)
            texts.push_back(choice->GetString(i).ToStdWstring());
        return texts;
    }

    Folders folders{m_dir.path()};
    FakeScheduler scheduler;
    std::set<std::wstring> usedFiles;
    std::vector<std::wstring> checked;
    std::vector<wxFrame*> frames;
    std::wstring fire, evacuation, alarmFile, recording, chime;
};

}  // namespace

TEST_F(MessagePage, GroupsAreRefusedOnlyForAnExactDuplicateOrNoName) {
    Page* page = open(false);
    EXPECT_EQ(page->execute->GetLabel(), L"Создать группу");
    EXPECT_TRUE(page->namePanel->IsShown());
    EXPECT_FALSE(page->filePanel->IsShown());
    EXPECT_EQ(page->status->GetLabel(), L"");

    ui_testing::ScriptedUi answers;
    answers.expect(L"Внимание", wxID_OK).expect(L"Сообщение", wxID_OK);
    page->run(L"Эвакуация");
    EXPECT_EQ(page->name->GetValue(), L"") << "emptied after a group is made";
    page->run(L"эвакуация");
    page->run(L"Эвакуация");
    page->run(L"");
    EXPECT_EQ(answers.shown().at(0).text, L"Одинаковое название группы");
    EXPECT_EQ(answers.shown().at(1).text, L"Введите название группы");
    EXPECT_EQ(page->shape(), L"Эвакуация{} эвакуация{}");
}

TEST_F(MessagePage, TheActionBoxShowsTheFieldsAndTheChoicesListTheOwnFolderThenTheRecordings) {
    Page* page = open(false);
    page->choose(kAddMessage);
    EXPECT_EQ(page->execute->GetLabel(), L"Добавить сообщение");
    EXPECT_TRUE(page->filePanel->IsShown());
    EXPECT_EQ(choices(page->gong), (Texts{L"", L"Гонг"}));
    EXPECT_EQ(choices(page->message), (Texts{L"Пожар", L"Эвакуация", L"Запись 1"}))
        << "the data folder's service and record folders, MP3 only";
    page->choose(kDelete);
    EXPECT_EQ(page->execute->GetLabel(), L"Удалить выделенное");
    EXPECT_FALSE(page->namePanel->IsShown());
    EXPECT_FALSE(page->filePanel->IsShown());

    // The alarm page lists its own folder; the settings name other folders,
    // and the microphone page's folder comes with a trailing "/".
    Page* alarm = open(true);
    alarm->refreshChoices();
    EXPECT_EQ(choices(alarm->message), (Texts{L"Тревога", L"Запись 1"}));
    pref::setString("place.pathDirAlarmMessage", folders.path("elsewhere"));
    folders.put("elsewhere/Другая.mp3");
    folders.put("mic/Микрофон.mp3");
    frm::SourceServicePanel::Outside outside = folders.outside(&usedFiles, &checked);
    outside.recordFolder = [this] { return folders.path("mic") + L"/"; };
    auto* wired = new Page(new wxFrame(nullptr, wxID_ANY, "wired"), &scheduler, nullptr, true, outside);
    frames.push_back(static_cast<wxFrame*>(wired->GetParent()));
    wired->refreshChoices();
    EXPECT_EQ(choices(wired->message), (Texts{L"Другая", L"Микрофон"}));
    wired->choose(kAddMessage);
    EXPECT_EQ(wired->message->GetCount(), 2u);
}

TEST_F(MessagePage, AddingAMessageRefusesInOrderAndKeepsTheChosenFiles) {
    Page* page = open(false);
    page->run(L"Эвакуация");
    page->run(L"Проверка");
    page->choose(kAddMessage);
    ui_testing::ScriptedUi answers;
    for (int i = 0; i < 4; ++i) answers.expect(L"Сообщение", wxID_OK);
    answers.expect(L"Внимание", wxID_OK);

    page->run(L"");
    page->run(L"Этаж 2");  // nothing selected yet
    page->messageTree->SelectItem(page->item(L"Эвакуация"));
    page->message->SetSelection(wxNOT_FOUND);
    page->run(L"Этаж 2");
    page->message->SetSelection(0);
    page->gong->SetSelection(1);
    page->run(L"Этаж 2");
    page->messageTree->SelectItem(page->item(L"Эвакуация", L"Этаж 2"));
    page->run(L"Этаж 3");
    page->messageTree->SelectItem(page->item(L"Эвакуация"));
    page->message->SetSelection(2);
    page->gong->SetSelection(0);
    page->run(L"Этаж 2");
    page->messageTree->SelectItem(page->item(L"Проверка"));
    page->run(L"Этаж 2");

    Texts texts;
    for (const auto& shown : answers.shown()) texts.push_back(shown.text);
    EXPECT_EQ(texts,
              (Texts{L"Введите название сообщения", L"Выделите группу", L"Необходимо выбрать сообщение",
                     L"Необходимо выделить группу", L"Одинаковое название в группе"}));
    EXPECT_EQ(page->shape(), L"Эвакуация{Этаж 2} Проверка{Этаж 2}");
    const auto* first = page->getItemData(page->item(L"Эвакуация", L"Этаж 2"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->type, frm::kMessageItem);
    EXPECT_EQ(first->messagePath, fire);
    EXPECT_EQ(first->gongPath, chime);
    const auto* second = page->getItemData(page->item(L"Проверка", L"Этаж 2"));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->messagePath, recording);
    EXPECT_EQ(second->gongPath, L"") << "the empty first line of the gong choice";
    EXPECT_EQ(page->titles(), (Texts{L"Эвакуация: Этаж 2", L"Проверка: Этаж 2"}));
}

TEST_F(MessagePage, DeletingAsksTheSchedulerByTitleAndByFileAndAGroupHasNoFile) {
    Page* page = open(false);
    fill(page, L"Эвакуация", {{L"Этаж 1", 0}, {L"Этаж 2", 1}});
    fill(page, L"Проверка", {{L"Тест", 1}});
    page->choose(kDelete);

    scheduler.used = {L"Эвакуация: Этаж 2"};
    page->messageTree->SelectItem(page->item(L"Эвакуация", L"Этаж 2"));
    page->click(page->execute);
    page->messageTree->SelectItem(page->item(L"Эвакуация"));
    page->click(page->execute);
    EXPECT_EQ(loggedCount("Выбранная единица воспроизведения входит в задание", "NOTICE"), 2);
    EXPECT_EQ(scheduler.asked, (Texts{L"Эвакуация: Этаж 2", L"Эвакуация: Этаж 1", L"Эвакуация: Этаж 2"}));

    // A task that plays the file, under whatever name.
    scheduler.used.clear();
    usedFiles = {fire, L""};
    page->messageTree->SelectItem(page->item(L"Эвакуация", L"Этаж 1"));
    page->click(page->execute);
    EXPECT_EQ(loggedCount("Невозможно удалить сообщение, т.к. оно используется планировщиком", "NOTICE"), 1);
    EXPECT_EQ(page->shape(), L"Эвакуация{Этаж 1 Этаж 2} Проверка{Тест}");

    // A group is deleted with everything below it, though a check that
    // took the empty path for a file would call it used.
    checked.clear();
    page->messageTree->SelectItem(page->item(L"Проверка"));
    page->click(page->execute);
    EXPECT_EQ(page->shape(), L"Эвакуация{Этаж 1 Этаж 2}");
    EXPECT_TRUE(checked.empty()) << "no file to ask about";
    page->messageTree->SelectItem(page->item(L"Эвакуация", L"Этаж 2"));
    page->click(page->execute);
    EXPECT_EQ(checked, (Texts{evacuation}));
    EXPECT_EQ(page->shape(), L"Эвакуация{Этаж 1}");
    EXPECT_EQ(page->status->GetLabel(), L"") << "nothing of the deleted message stays on show";

    page->messageTree->UnselectAll();
    page->click(page->execute);
    EXPECT_EQ(loggedCount("There is no selection to delete an action", "DEBUG"), 1);
}

TEST_F(MessagePage, TheTreeAsTheSchedulerAndTheMicrophonePageSeeIt) {
    RecordingChannels channels;
    frm::PlaybackChannels::set(&channels);
    {
        pref::Guard guard(g_pref);
        pref::create(g_pref, "volume.serviceMessage2", pref::Type::TypeInt) = 77;
    }
    Page* service = open(false);
    fill(service, L"Эвакуация", {{L"Этаж 1", 0}, {L"Этаж 2", 2}}, 1);
    Page* alarm = open(true);
    fill(alarm, L"Тревога", {{L"Пожар", 0}}, 1);

    EXPECT_EQ(service->titles(), (Texts{L"Эвакуация: Этаж 1", L"Эвакуация: Этаж 2"}));
    // As playbacks, the service page's messages go to the player channel at
    // the service volume, the alarm page's to the alarm channel at 100; the
    // gong is the task's own to choose.
    for (const auto& track : service->collectTracks()) track->execute();
    for (const auto& track : alarm->collectTracks()) track->execute();
    EXPECT_EQ(channels.played, (Texts{L"player 77 " + fire, L"player 77 " + recording,
                                      L"alarm 100 Расписание " + alarmFile + L"|"}));

    EXPECT_TRUE(service->isMessageUsed(L"Запись 1.mp3"));
    EXPECT_TRUE(service->isMessageUsed(L"record/"));
    EXPECT_FALSE(service->isMessageUsed(L"запись 1.mp3")) << "letter case counts";
    EXPECT_FALSE(alarm->isMessageUsed(L"Запись 1.mp3"));
    service->choose(kDelete);
    service->messageTree->SelectItem(service->item(L"Эвакуация", L"Этаж 2"));
    service->click(service->execute);
    EXPECT_FALSE(service->isMessageUsed(L"Запись 1.mp3")) << "the walk starts afresh";
}

TEST_F(MessagePage, TheSelectionIsDescribedAndOnlyAMessagePlays) {
    Page* page = open(false);
    fill(page, L"Эвакуация", {{L"Этаж 1", 0}, {L"Этаж 2", 1}}, 1);
    page->messageTree->SelectItem(page->item(L"Эвакуация", L"Этаж 1"));
    EXPECT_EQ(page->status->GetLabel(), L"Название:\n'Этаж 1'\nГонг:\n'Гонг'\nСообщение:\n'Пожар'");
    page->messageTree->SelectItem(page->item(L"Эвакуация"));
    EXPECT_EQ(page->status->GetLabel(), L"");
    page->click(page->play);
    EXPECT_EQ(loggedCount("Выберите сообщение для запуска", "NOTICE"), 1);

    page->messageTree->SelectItem(page->item(L"Эвакуация", L"Этаж 2"));
    page->choose(kAddMessage);
    wx_testing::writeShot(frames.back(), "message_page_service");
    Page* alarm = open(true);
    fill(alarm, L"Пожарная тревога", {{L"Всем покинуть здание", 0}}, 1);
    alarm->messageTree->SelectItem(alarm->item(L"Пожарная тревога", L"Всем покинуть здание"));
    alarm->choose(kDelete);
    wx_testing::writeShot(frames.back(), "message_page_alarm");
}

TEST_F(MessagePage, TheTreeFileRoundTripsThroughThePageAndAPartlyBrokenOneKeepsItsOriginal) {
    const std::wstring file = folders.path("service_message.xml");
    Page* page = open(false);
    fill(page, L"Эвакуация", {{L"Этаж 1", 0}, {L"Этаж 2", 2}}, 1);
    fill(page, L"Пусто", {});
    page->save(file);
    EXPECT_TRUE(gui_testing::xmllintAccepts(base::toUtf8(file)));

    Page* loaded = open(false);
    ASSERT_NE(loaded->shape(), page->shape());
    loaded->load(file);
    EXPECT_EQ(loaded->shape(), L"Эвакуация{Этаж 1 Этаж 2} Пусто{}");
    const auto* data = loaded->getItemData(loaded->item(L"Эвакуация", L"Этаж 1"));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->gongPath, chime);
    EXPECT_EQ(loaded->titles(), page->titles());
    const std::string first = testing_support::readFile(base::toUtf8(file));
    loaded->save(file);
    EXPECT_EQ(testing_support::readFile(base::toUtf8(file)), first);

    // A message moved into the alarm folder is found there by the alarm
    // page; a broken message is left out and the file kept as it was.
    const std::string broken =
        "<tree><group><name>Тревога</name><message><name>Пожар</name><message>/old/Тревога.mp3</message>"
        "<gong/></message><message><name>Без "
        "гонга</name><message>/old/x.mp3</message></message></group></tree>";
    folders.put("alarm_message.xml", broken);
    Page* alarm = open(true);
    alarm->load(folders.path("alarm_message.xml"));
    EXPECT_EQ(alarm->shape(), L"Тревога{Пожар}");
    EXPECT_EQ(alarm->getItemData(alarm->item(L"Тревога", L"Пожар"))->messagePath, alarmFile);
    EXPECT_EQ(testing_support::readFile(m_dir.path() + "/alarm_message.xml.bad"), broken);
}

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <boost/make_shared.hpp>
#include <fstream>

#include "audio/place_folders.h"
#include "audio/playback.h"
#include "audio/playlist.h"
#include "base/pref.h"
#include "base/text.h"
#include "os/data_directory.h"
#include "tests/audio/player_fixture.h"

// Playbacks against a recording double of the channels.

using namespace player_test;

namespace {

struct PlayerCall {
    boost::shared_ptr<Playlist> playlist;
    frm::DeviceSet devices;
    int volume;
};

struct AlarmCall {
    std::wstring description;
    frm::DeviceSet devices;
    std::wstring message;
    std::wstring gong;
    int volume;
    bool callback;
};

class RecordingChannels : public frm::PlaybackChannels {
public:
    void playOnPlayerChannel(boost::shared_ptr<Playlist> playlist, const frm::DeviceSet& devices,
                             int volume) override {
        player.push_back({playlist, devices, volume});
    }
    bool launchOnAlarmChannel(const std::wstring& description, const frm::DeviceSet& devices,
                              const std::wstring& message, const std::wstring& gong, int volume,
                              boost::function<void(int)> callback) override {
        alarm.push_back({description, devices, message, gong, volume, !callback.empty()});
        return true;
    }
    std::vector<PlayerCall> player;
    std::vector<AlarmCall> alarm;
};

/// Stand-ins for loudspeakers: the playbacks only keep and pass the pointers.
frm::DeviceSet twoSpeakers(std::vector<boost::shared_ptr<int>>& owners) {
    frm::DeviceSet devices;
    for (int i = 0; i < 2; ++i) {
        owners.push_back(boost::make_shared<int>(i));
        devices.insert(boost::shared_ptr<device::OrvelInfo>(
            owners.back(), reinterpret_cast<device::OrvelInfo*>(owners.back().get())));
    }
    return devices;
}

class PlaybackTest : public PlayerEnvironment {
protected:
    void SetUp() override {
        PlayerEnvironment::SetUp();
        frm::PlaybackChannels::set(&m_channels);
        m_devices = twoSpeakers(m_owners);
        pref::Guard guard(g_pref);
        pref::create(g_pref, "volume.microphone2", pref::Type::TypeInt) = 71;
        pref::create(g_pref, "volume.serviceMessage2", pref::Type::TypeInt) = 62;
    }
    void TearDown() override {
        frm::PlaybackChannels::set(nullptr);
        PlayerEnvironment::TearDown();
    }

    RecordingChannels m_channels;
    std::vector<boost::shared_ptr<int>> m_owners;
    frm::DeviceSet m_devices;
};

using PlaybackDeathTest = PlaybackTest;

}  // namespace

TEST_F(PlaybackTest, ATrackOnThePlayerChannelPlaysTheGongThenTheMessageAtItsKindsVolume) {
    const std::wstring gong = file("gong.mp3");
    const std::wstring message = file("message.mp3");
    frm::PlaybackTrack service(L"Service", frm::PlaybackTrack::k_service_message, false);
    service.setGong(L"Gong", gong);
    service.setMessage(L"Message", message);
    service.setDevices(m_devices);
    service.execute();
    ASSERT_EQ(m_channels.player.size(), 1u);
    const PlayerCall& call = m_channels.player[0];
    EXPECT_EQ(call.playlist->getName(), L"Служебное оповещение");
    EXPECT_EQ(titles(*call.playlist), (std::vector<std::wstring>{L"Gong", L"Message"}));
    EXPECT_EQ(call.playlist->getItems()[1].path, message);
    EXPECT_EQ(call.volume, 71);
    EXPECT_EQ(call.devices, m_devices);
    // Played through once: the end leaves it ended.
    call.playlist->next();
    call.playlist->next();
    EXPECT_FALSE(call.playlist->isPlayable());

    frm::PlaybackTrack alarm(L"Alarm", frm::PlaybackTrack::k_alarm_message, false);
    alarm.setMessage(L"Message", message);
    alarm.execute();
    frm::PlaybackTrack other(L"Other", 7, false);
    other.setMessage(L"Message", message);
    other.execute();
    ASSERT_EQ(m_channels.player.size(), 3u);
    EXPECT_EQ(m_channels.player[1].playlist->getName(), L"Тревожное оповещение");
    EXPECT_EQ(titles(*m_channels.player[1].playlist), (std::vector<std::wstring>{L"Message"}));
    EXPECT_EQ(m_channels.player[1].volume, 62);
    EXPECT_EQ(m_channels.player[2].volume, 2147483647);
    EXPECT_TRUE(m_channels.alarm.empty());
}

TEST_F(PlaybackTest, ATrackOnTheAlarmChannelGoesWithItsDevicesAndVolume) {
    frm::PlaybackTrack service(L"Service", frm::PlaybackTrack::k_service_message, true);
    service.setGong(L"Gong", L"/gongs/g.mp3");
    service.setMessage(L"Message", L"/messages/m.mp3");
    service.setDevices(m_devices);
    service.execute();
    frm::PlaybackTrack alarm(L"Alarm", frm::PlaybackTrack::k_alarm_message, true);
    alarm.setMessage(L"Message", L"/messages/a.mp3");
    alarm.execute();
    ASSERT_EQ(m_channels.alarm.size(), 2u);
    EXPECT_EQ(m_channels.alarm[0].description, L"Расписание");
    EXPECT_EQ(m_channels.alarm[0].message, L"/messages/m.mp3");
    EXPECT_EQ(m_channels.alarm[0].gong, L"/gongs/g.mp3");
    EXPECT_EQ(m_channels.alarm[0].volume, 71);
    EXPECT_EQ(m_channels.alarm[0].devices, m_devices);
    EXPECT_FALSE(m_channels.alarm[0].callback);
    EXPECT_EQ(m_channels.alarm[1].gong, L"");
    EXPECT_EQ(m_channels.alarm[1].volume, 100);
    EXPECT_TRUE(m_channels.player.empty());

    // The message folder of the track's channel is where a moved file is found.
    pref::setString("place.pathDirAlarmMessage", m_dir.widePath());
    file("a.mp3");
    EXPECT_EQ(alarm.messageDir(), m_dir.widePath() + L"/a.mp3");
    EXPECT_EQ(service.messageDir(), L"/messages/m.mp3");
}

TEST_F(PlaybackTest, EmptyFolderSettingsMeanTheDataFoldersOwnAndAMessageMayHaveBecomeARecording) {
    const std::wstring data = os::getUserDataDirectory();
    for (const wchar_t* folder : {L"/alarm", L"/record", L"/service", L"/elsewhere"})
        boost::filesystem::create_directories(base::toUtf8(data + folder));
    std::ofstream(base::toUtf8(data + L"/alarm/a.mp3")) << "x";
    std::ofstream(base::toUtf8(data + L"/record/r.mp3")) << "x";
    frm::PlaybackTrack alarm(L"Alarm", frm::PlaybackTrack::k_alarm_message, true);
    frm::PlaybackTrack service(L"Service", frm::PlaybackTrack::k_service_message, false);

    alarm.setMessage(L"A", L"/old/a.mp3");
    EXPECT_EQ(alarm.messageDir(), data + L"/alarm/a.mp3");
    service.setMessage(L"A", L"/old/a.mp3");
    EXPECT_EQ(service.messageDir(), L"/old/a.mp3") << "not the other page's folder";
    for (frm::PlaybackTrack* track : {&alarm, &service}) {
        track->setMessage(L"R", L"/old/r.mp3");
        EXPECT_EQ(track->messageDir(), data + L"/record/r.mp3");
    }
    EXPECT_EQ(alarm.getMessagePath(), L"/old/r.mp3") << "the track keeps what it was given";

    // A folder that is set is the only place looked at.
    pref::setString("place.pathDirRecordedMessage", data + L"/elsewhere");
    EXPECT_EQ(alarm.messageDir(), L"/old/r.mp3");
    EXPECT_EQ(frm::placeFolder(frm::PlaceFolder::kGong), data + L"/gong");
    EXPECT_EQ(frm::placeFolder(frm::PlaceFolder::kServiceMessage, L"/d"), L"/d/service");
}

TEST_F(PlaybackTest, AFolderPlaylistIsRebuiltFromItsFolderOnEveryExecution) {
    const std::string folder = m_dir.path() + "/medium";
    boost::filesystem::create_directory(folder);
    std::ofstream(folder + "/one.mp3").put('x');
    std::ofstream(folder + "/notes.txt").put('x');
    auto medium = boost::make_shared<Playlist>(base::fromUtf8(folder), true);
    medium->add(L"stale", L"http://stale");
    frm::PlaybackPlaylist playback(L"Medium", medium);
    playback.setDevices(m_devices);
    playback.execute();
    EXPECT_EQ(titles(*medium), (std::vector<std::wstring>{L"one.mp3"}));

    std::ofstream(folder + "/two.OGG").put('x');
    playback.execute();
    auto found = titles(*medium);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::wstring>{L"one.mp3", L"two.OGG"}));
    ASSERT_EQ(m_channels.player.size(), 2u);
    EXPECT_EQ(m_channels.player[1].playlist, medium);
    EXPECT_EQ(m_channels.player[1].volume, 2147483647);
    EXPECT_EQ(m_channels.player[1].devices, m_devices);

    // An ordinary name, or a path of no folder, is left as it is.
    for (const std::wstring& name : {std::wstring(L"Music"), base::fromUtf8(folder) + L"/one.mp3"}) {
        auto plain = boost::make_shared<Playlist>(name, true);
        plain->add(L"kept", L"http://kept");
        frm::PlaybackPlaylist(L"Plain", plain).execute();
        EXPECT_EQ(titles(*plain), (std::vector<std::wstring>{L"kept"}));
    }

    // No playlist: logged, nothing played.
    frm::PlaybackPlaylist(L"None", boost::shared_ptr<Playlist>()).execute();
    EXPECT_EQ(m_channels.player.size(), 4u);
    EXPECT_EQ(logged(L"Action is not executed. Playback for Playlist not set."), 1);
}

TEST_F(PlaybackTest, ClonesShareThePlaylistAndTheCollectionHandsItselfOut) {
    auto collection = boost::make_shared<frm::PlaybackCollection>(L"playlist", L"Плейлист");
    auto music = boost::make_shared<Playlist>(L"Music", true);
    auto radio = boost::make_shared<Playlist>(L"Radio", true);
    frm::addPlaylistPlaybacks(collection, {music, radio});
    auto all = collection->getAll();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1]->getName(), L"Radio");
    EXPECT_TRUE(all[1]->getDevices().empty());
    EXPECT_EQ(all[0]->getCollection(), collection);

    all[0]->setDevices(m_devices);
    auto copy = all[0]->clone();
    EXPECT_EQ(copy->getCollection(), collection);
    EXPECT_EQ(copy->getDevices(), m_devices);
    copy->execute();
    ASSERT_EQ(m_channels.player.size(), 1u);
    EXPECT_EQ(m_channels.player[0].playlist, music);
    copy->setName(L"Renamed");
    EXPECT_EQ(all[0]->getName(), L"Music");

    frm::PlaybackTrack track(L"Track", 4, false);
    track.setMessage(L"M", L"http://m");
    auto trackCopy = track.clone();
    trackCopy->execute();
    EXPECT_EQ(titles(*m_channels.player[1].playlist), (std::vector<std::wstring>{L"M"}));

    // Without registered channels nothing is played.
    frm::PlaybackChannels::set(nullptr);
    copy->execute();
    EXPECT_EQ(m_channels.player.size(), 2u);
}

// A scheduled task keeps a clone while the main window rebuilds the groups
// each time the scheduler page is shown: the clone must still name its group.
TEST_F(PlaybackTest, AClonesGroupLivesAsLongAsTheCloneAndAnAddedCloneHoldsNoCycle) {
    boost::shared_ptr<frm::IPlayback> copy;
    boost::weak_ptr<frm::PlaybackCollection> gone;
    {
        auto messages = boost::make_shared<frm::PlaybackCollection>(L"serviceMessage", L"Служебные");
        auto track = boost::make_shared<frm::PlaybackTrack>(L"Группа: Обед", 4, true);
        track->setMessage(L"Обед", L"/srv/обед.mp3");
        track->setGong(L"gong.mp3", L"/srv/gong.mp3");
        messages->add(track);
        copy = track->clone();
        gone = messages;
    }
    ASSERT_FALSE(gone.expired()) << "the clone holds its group";
    EXPECT_EQ(copy->getCollection()->getKey(), L"serviceMessage");
    auto track = boost::dynamic_pointer_cast<frm::PlaybackTrack>(copy);
    ASSERT_TRUE(track);
    EXPECT_EQ(track->getMessageName(), L"Обед");
    EXPECT_EQ(track->getMessagePath(), L"/srv/обед.mp3");
    EXPECT_EQ(track->getGongName(), L"gong.mp3");
    EXPECT_EQ(track->getGongPath(), L"/srv/gong.mp3");
    EXPECT_TRUE(track->isAlarm());

    // Added to a new group, the clone belongs to it by a weak pointer only:
    // the old group goes, and the new one goes with its last owner.
    boost::weak_ptr<frm::PlaybackCollection> fresh;
    {
        auto rebuilt = boost::make_shared<frm::PlaybackCollection>(L"serviceMessage", L"Служебные");
        rebuilt->add(copy);
        fresh = rebuilt;
        EXPECT_TRUE(gone.expired());
        EXPECT_EQ(copy->getCollection(), rebuilt);
    }
    EXPECT_TRUE(fresh.expired());
}

TEST_F(PlaybackDeathTest, AMissingCollectionOrPlaybackEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    frm::PlaybackTrack loose(L"Loose", 3, false);
    EXPECT_EXIT(loose.getCollection(), ::testing::ExitedWithCode(1),
                "Pointer isn't set. Place frm::BasePlayback::getCollection");
    auto collection = boost::make_shared<frm::PlaybackCollection>(L"playlist", L"Плейлист");
    EXPECT_EXIT(collection->add(boost::shared_ptr<frm::IPlayback>()), ::testing::ExitedWithCode(1),
                "Pointer isn't set. Place frm::PlaybackCollection::add");
}

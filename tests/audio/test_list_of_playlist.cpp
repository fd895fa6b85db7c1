#include <cstdio>
#include <fstream>

#include <boost/filesystem/operations.hpp>
#include <boost/make_shared.hpp>

#include <gtest/gtest.h>

#include "audio/list_of_playlist.h"
#include "audio/player.h"
#include "audio/playlist.h"
#include "tests/audio/player_fixture.h"

// The list of playlists and its XML file (read back by xmllint): rows, save,
// load, missing folders, the default radio list and damaged entries.

using namespace player_test;

namespace {

class ListOfPlaylistTest : public PlayerEnvironment {
protected:
    std::wstring xmlPath(const std::string& name) { return m_dir.widePath() + L"/" + base::fromUtf8(name); }

    void writeXml(const std::wstring& path, const std::string& text) {
        std::ofstream(base::toUtf8(path)) << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" << text;
    }

    /// xmllint's answer to an XPath expression on the file ("" when it fails).
    static std::string xpath(const std::wstring& file, const std::string& expression) {
        const std::string command =
            "xmllint --xpath \"" + expression + "\" '" + base::toUtf8(file) + "' 2>/dev/null";
        std::string out;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[512];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
            ::pclose(pipe);
        }
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }

    static std::vector<std::wstring> names(ListOfPlaylist& list) {
        std::vector<std::wstring> out;
        for (const auto& playlist : list.getAll()) out.push_back(playlist->getName());
        return out;
    }

    boost::shared_ptr<Playlist> playlist(const std::wstring& name, const std::vector<std::string>& files) {
        auto made = boost::make_shared<Playlist>(name, true);
        for (const auto& name : files) made->add(base::fromUtf8(name), file(name));
        return made;
    }
};

using ListOfPlaylistDeathTest = ListOfPlaylistTest;

}  // namespace

TEST_F(ListOfPlaylistTest, RowsAreDeletedOnceEachAndMoved) {
    ListOfPlaylist list;
    for (const wchar_t* name : {L"0", L"1", L"2", L"3"}) list.add(boost::make_shared<Playlist>(name, true));
    list.setSelection({0, 2, 0});   // a repeated row is deleted once
    list.deleteSelected();
    EXPECT_EQ(names(list), (std::vector<std::wstring>{L"1", L"3"}));
    EXPECT_TRUE(list.getSelection().empty());
    list.add(boost::make_shared<Playlist>(L"4", true));
    EXPECT_EQ(list.moveItem(2, 0), 0);
    EXPECT_EQ(names(list), (std::vector<std::wstring>{L"4", L"1", L"3"}));
    EXPECT_EQ(list.moveItem(0, 3), -1);
    list.setSelection({7, 1});
    list.deleteSelected();
    EXPECT_EQ(names(list).size(), 3u);
    EXPECT_EQ(list.getOne(1)->getName(), L"1");
}

TEST_F(ListOfPlaylistTest, SaveMarksThePlayingListAndTracksAndLoadPlaysItAgain) {
    ListOfPlaylist list;
    auto first = playlist(L"Первый", {"a1.mp3", "a2.mp3"});
    auto second = playlist(L"Second & <more>", {"b1.mp3", "b2.ogg", "b3.wma"});
    auto empty = boost::make_shared<Playlist>(L"Empty", true);
    first->setCurrent(1);
    second->setCurrent(1);
    list.add(first);
    list.add(second);
    list.add(empty);
    Player::play(second);
    const std::wstring path = xmlPath("list_of_playlist_music.xml");
    list.save(path);

    // The element names in order (four places: an extra one shows too).
    const auto children = [&](const std::string& of) {
        std::string names = "concat(name(" + of + "/*[1])";
        for (int i = 2; i <= 4; ++i) names += ",' ',name(" + of + "/*[" + std::to_string(i) + "])";
        return xpath(path, names + ")");
    };
    EXPECT_EQ(children("/list"), "playlist playlist playlist ");
    EXPECT_EQ(children("/list/playlist[1]"), "name items  ");
    EXPECT_EQ(children("/list/playlist[2]"), "name items playback ");
    EXPECT_EQ(children("/list/playlist[2]/items"), "track track track ");
    EXPECT_EQ(children("/list/playlist[2]/items/track[1]"), "title path  ");
    EXPECT_EQ(children("/list/playlist[2]/items/track[2]"), "playback title path ");
    EXPECT_EQ(xpath(path, "count(/list/playlist[3]/items/*)"), "0");
    EXPECT_EQ(xpath(path, "count(/list/playlist[playback='true'])"), "1");
    EXPECT_EQ(xpath(path, "string(/list/playlist[playback='true']/name)"), "Second & <more>");
    EXPECT_EQ(xpath(path, "count(//track[playback='true'])"), "2");
    EXPECT_EQ(xpath(path, "string(/list/playlist[1]/items/track[playback='true']/title)"), "a2.mp3");
    EXPECT_EQ(xpath(path, "string(/list/playlist[2]/items/track[3]/path)"), base::toUtf8(file("b3.wma")));
    EXPECT_EQ(xpath(path, "string(/list/playlist[1]/name)"), "Первый");

    // Load into a fresh list while the player plays something else.
    auto elsewhere = playlist(L"Elsewhere", {"z.mp3"});
    Player::play(elsewhere);
    ListOfPlaylist loaded;
    ASSERT_NE(names(loaded), names(list));
    loaded.load(path);
    EXPECT_EQ(names(loaded), names(list));
    auto all = loaded.getAll();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0]->getItems().size(), 2u);
    EXPECT_EQ(all[0]->current().title, L"a2.mp3");
    EXPECT_EQ(all[1]->current().path, file("b2.ogg"));
    EXPECT_TRUE(all[2]->isEmpty());
    EXPECT_EQ(Player::getPlaylist(), all[1]);
    EXPECT_EQ(plays().back(), base::toUtf8(file("b2.ogg")));
    EXPECT_EQ(Player::instance()->state(), EnginePlayer::k_state_playing);

    // Nothing playing: no playlist is marked.
    Player::instance()->stop(false);
    loaded.save(path);
    EXPECT_EQ(xpath(path, "count(/list/playlist[playback])"), "0");
    EXPECT_EQ(xpath(path, "count(//track[playback='true'])"), "2");
}

TEST_F(ListOfPlaylistTest, TracksInMissingFoldersAreSkippedWithOneLinePerFolder) {
    const std::wstring path = xmlPath("music.xml");
    const std::string here = base::toUtf8(file("here.mp3"));
    writeXml(path,
             "<list><folder><name>Mixed</name><items>"
             "<track><title>1</title><path>/gone/one/a.mp3</path></track>"
             "<track><title>2</title><path>/gone/one/b.mp3</path></track>"
             "<track><title>3</title><path>/gone/two/c.mp3</path></track>"
             "<track><playback>true</playback><title>4</title><path>" + here + "</path></track>"
             "<track><title>5</title><path>http://radio.example/live</path></track>"
             "<track><title>6</title><path>/gone/one/sine://440</path></track>"
             "<track><title>7</title><path>" + m_dir.path() + "/missing.mp3</path></track>"
             "</items></folder></list>");
    ListOfPlaylist list;
    list.load(path);
    ASSERT_EQ(list.getAll().size(), 1u);   // any element name under list is a playlist
    auto loaded = list.getOne(0);
    const auto items = loaded->getItems();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].title, L"4");
    EXPECT_EQ(items[1].title, L"5");
    EXPECT_EQ(items[2].title, L"6");   // "://" is never looked up on disk
    EXPECT_EQ(loaded->current().title, L"4");
    EXPECT_EQ(logged(L"Папка плейлиста не существует: '/gone/one'", "INFO"), 1);
    EXPECT_EQ(logged(L"Папка плейлиста не существует: '/gone/two'", "INFO"), 1);
    EXPECT_EQ(logged(L"Папка плейлиста не существует"), 2);
    EXPECT_EQ(logged(L"Путь некорректный '" + base::fromUtf8(m_dir.path()) + L"/missing.mp3'", "INFO"), 1);
    EXPECT_EQ(logged(L"не найдены папки треков: 2 (треков в них: 3), например «/gone/one»; «/gone/two»)", "WARN"),
              1);
    EXPECT_EQ(Player::getPlaylist(), boost::shared_ptr<Playlist>());   // no list was marked playing
}

TEST_F(ListOfPlaylistTest, TheDefaultRadioListOnlyStandsInForAMissingOrUnreadableRadioFile) {
    ListOfPlaylist missingRadio;
    missingRadio.load(xmlPath("list_of_playlist_radio.xml"));
    ASSERT_EQ(names(missingRadio), (std::vector<std::wstring>{L"Радио"}));
    const auto station = missingRadio.getOne(0)->getItems();
    ASSERT_EQ(station.size(), 1u);
    EXPECT_EQ(station[0].path.rfind(L"http://", 0), 0u);
    EXPECT_EQ(logged(L"Set default radio stations", "EXTERN"), 1);

    const std::wstring damaged = xmlPath("list_of_playlist_radio.xml");
    writeXml(damaged, "<list><playlist>");
    ListOfPlaylist damagedRadio;
    damagedRadio.load(damaged);
    EXPECT_EQ(names(damagedRadio), (std::vector<std::wstring>{L"Радио"}));

    const std::wstring emptyRadio = xmlPath("list_of_playlist_radio.xml");
    writeXml(emptyRadio, "<list/>");
    ListOfPlaylist readRadio;
    readRadio.load(emptyRadio);
    EXPECT_TRUE(readRadio.getAll().empty());

    ListOfPlaylist music;
    music.load(xmlPath("list_of_playlist_music.xml"));
    EXPECT_TRUE(music.getAll().empty());
    EXPECT_EQ(logged(L"List of Playlist not found", "EXTERN"), 1);

    // Only the file's name counts: a folder named after radio does not make a music list a radio list.
    ListOfPlaylist inRadioFolder;
    inRadioFolder.load(m_dir.widePath() + L"/radio/list_of_playlist_music.xml");
    EXPECT_TRUE(inRadioFolder.getAll().empty());

    // Loading appends after what is there.
    missingRadio.load(xmlPath("other_radio.xml"));
    EXPECT_EQ(names(missingRadio), (std::vector<std::wstring>{L"Радио", L"Радио"}));
}

TEST_F(ListOfPlaylistTest, APlaylistWithoutNameOrItemsIsSkippedAndTheOthersLoad) {
    const std::wstring path = xmlPath("list_of_playlist_music.xml");
    const std::string song = base::toUtf8(file("song.mp3"));
    const std::string track = "<track><title>t</title><path>" + song + "</path></track>";
    writeXml(path,
             "<list><!-- kept by hand -->"
             "<playlist><name>Good 1</name><items>" + track + "<!-- note -->" + track + "</items></playlist>"
             "<playlist><items>" + track + "</items></playlist>"
             "<playlist><name>No items</name></playlist>"
             "<playlist><name>No path</name><items><track><title>t</title></track></items></playlist>"
             "<playlist><name>No title</name><items><track><path>" + song + "</path></track></items></playlist>"
             "<playlist attribute=\"x\"><name>Good 2</name><items>" + track + "</items>"
             "<playback>maybe</playback></playlist>"
             "</list>");
    ListOfPlaylist list;
    EXPECT_NO_THROW(list.load(path));
    EXPECT_EQ(names(list), (std::vector<std::wstring>{L"Good 1", L"No path", L"No title", L"Good 2"}))
        << "a track without its path or title is skipped alone";
    EXPECT_EQ(list.getOne(0)->getItems().size(), 2u);
    EXPECT_TRUE(list.getOne(1)->isEmpty());
    EXPECT_EQ(logged(L"пропущен:", "INFO"), 4);
    EXPECT_EQ(
        logged(L"повреждён (в плейлисте 'No path' пропущено записей: 1; в плейлисте 'No title' пропущено "
               L"записей: 1; пропущено плейлистов: 2)",
               "WARN"),
        1)
        << "one notice for the file";
    EXPECT_FALSE(Player::getPlaylist());   // "maybe" is no mark

    // A file without its list element loads nothing and says so.
    writeXml(path, "<playlists/>");
    ListOfPlaylist none;
    EXPECT_NO_THROW(none.load(path));
    EXPECT_TRUE(none.getAll().empty());
}

TEST_F(ListOfPlaylistDeathTest, ANullPlaylistOrABadRowEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ListOfPlaylist list;
    EXPECT_EXIT(list.add(boost::shared_ptr<Playlist>()), ::testing::ExitedWithCode(1),
                "Pointer isn't set. Place ListOfPlaylist::add");
    EXPECT_EXIT(list.getOne(0), ::testing::ExitedWithCode(1), "size 0, index 0. Place ListOfPlaylist::getOne");
}

TEST_F(ListOfPlaylistTest, WhatDoesNotLoadIsKeptAsideBeforeTheSaveDropsIt) {
    const std::wstring path = xmlPath("list_of_playlist_music.xml");
    const std::string song = base::toUtf8(file("song.mp3"));
    const std::string good = "<playlist><name>Good</name><items><track><title>t</title><path>" + song +
                             "</path></track></items></playlist>";
    const std::string partly = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<list>" + good +
                               "<playlist><name>Lacks items</name></playlist></list>";
    std::ofstream(base::toUtf8(path)) << partly;
    ListOfPlaylist list;
    list.load(path);
    EXPECT_EQ(names(list), (std::vector<std::wstring>{L"Good"}));
    list.save(path);
    EXPECT_EQ(testing_support::readFile(base::toUtf8(path) + ".bad"), partly) << "the file as it was";
    EXPECT_EQ(xpath(path, "count(/list/playlist)"), "1");

    // The saved file loads whole: no second copy.
    ListOfPlaylist again;
    again.load(path);
    EXPECT_FALSE(boost::filesystem::exists(base::toUtf8(path) + ".bad.2"));

    // A wrong root: set aside whole, nothing loads, the save does not touch the copy.
    const std::string renamed = "<?xml version=\"1.0\"?>\n<lists>" + good + "</lists>";
    for (const char* name : {"list_of_playlist_music.xml", "list_of_playlist_radio.xml"}) {
        const std::wstring other = xmlPath(name);
        std::ofstream(base::toUtf8(other)) << renamed;
        ListOfPlaylist wrong;
        wrong.load(other);
        const bool radio = std::string(name).find("radio") != std::string::npos;
        EXPECT_EQ(wrong.getAll().size(), radio ? 1u : 0u) << "the radio list falls back to its default";
        wrong.save(other);
        const std::string aside = base::toUtf8(other) + (radio ? ".bad" : ".bad.2");
        EXPECT_EQ(testing_support::readFile(aside), renamed) << name;
    }
    EXPECT_EQ(logged(L"повреждён (нет элемента «list»)", "WARN"), 2);
    EXPECT_EQ(logged(L"No list", ""), 0);
}

TEST_F(ListOfPlaylistTest, ABadTrackIsSkippedAloneAndItsPlaylistKeepsTheOthersInOrder) {
    // The field trial's radio list: a third station with a mark "xyz" and no path.
    const std::wstring radio = xmlPath("list_of_playlist_radio.xml");
    const std::string stations =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<list><playlist><name>Радио</name><items>"
        "<track><title>Станция 1</title><path>http://one.example/live</path></track>"
        "<track><title>Станция 2</title><path>http://two.example/live</path></track>"
        "<track><playback>xyz</playback><title>Плохая</title></track>"
        "</items></playlist><playlist><name>Вторая</name><items>"
        "<track><title>Станция 3</title><path>http://three.example/live</path></track>"
        "</items></playlist></list>";
    std::ofstream(base::toUtf8(radio)) << stations;
    ListOfPlaylist radioList;
    radioList.load(radio);
    ASSERT_EQ(names(radioList), (std::vector<std::wstring>{L"Радио", L"Вторая"}));
    const auto kept = radioList.getOne(0)->getItems();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].title, L"Станция 1");
    EXPECT_EQ(kept[1].path, L"http://two.example/live");
    EXPECT_EQ(logged(L"Файл '" + radio + L"' повреждён (в плейлисте 'Радио' пропущено записей: 1)", "WARN"),
              1)
        << "the file, the playlist and the count";
    radioList.save(radio);
    EXPECT_EQ(testing_support::readFile(base::toUtf8(radio) + ".bad"), stations);
    EXPECT_EQ(xpath(radio, "count(/list/playlist[name='Радио']/items/track)"), "2");
    EXPECT_EQ(xpath(radio, "string(/list/playlist[1]/items/track[2]/title)"), "Станция 2");

    // The music list "Утро": the track marked current comes after the bad one.
    const std::wstring music = xmlPath("list_of_playlist_music.xml");
    std::string tracks;
    for (const char* name : {"a.mp3", "", "b.mp3", "c.mp3"}) {
        if (*name == 0) {
            tracks += "<track><playback>xyz</playback><title>плохой</title><path/></track>";
            continue;
        }
        tracks += std::string("<track>") + (name[0] == 'b' ? "<playback>true</playback>" : "") + "<title>" +
                  name + "</title><path>" + base::toUtf8(file(name)) + "</path></track>";
    }
    writeXml(music, "<list><playlist><name>Утро</name><items>" + tracks + "</items></playlist></list>");
    ListOfPlaylist musicList;
    musicList.load(music);
    ASSERT_EQ(names(musicList), (std::vector<std::wstring>{L"Утро"}));
    const auto morning = musicList.getOne(0);
    ASSERT_EQ(morning->getItems().size(), 3u);
    EXPECT_EQ(morning->getItems()[2].title, L"c.mp3");
    EXPECT_EQ(morning->current().title, L"b.mp3");
    EXPECT_EQ(logged(L"Internal error", ""), 0) << "an empty path is the file's damage";
    EXPECT_EQ(logged(L"в плейлисте 'Утро' пропущено записей: 1", "WARN"), 1);
    EXPECT_TRUE(boost::filesystem::exists(base::toUtf8(music) + ".bad"));
}

// A drive unplugged or a share not mounted at the start: the tracks that live
// there are left out as before, but the file as it was is kept aside (never
// over an earlier copy) and named before the save writes the lists without
// them.
TEST_F(ListOfPlaylistTest, TracksOfAMissingDriveAreKeptAsideBeforeTheSaveDropsThem) {
    const std::wstring path = xmlPath("list_of_playlist_music.xml");
    const std::string drive = m_dir.path() + "/usb/Музыка/";
    boost::filesystem::create_directory(m_dir.path() + "/share");  // a mount point with nothing mounted
    std::string morning;
    for (const char* name : {"1.mp3", "2.mp3", "3.mp3"})
        morning += std::string("<track><title>") + name + "</title><path>" + drive + name + "</path></track>";
    const std::string original =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<list>"
        "<playlist><name>Утро</name><items>" + morning + "</items></playlist>"
        "<playlist><name>День</name><items><track><title>d</title><path>" + base::toUtf8(file("d.mp3")) +
        "</path></track></items></playlist>"
        "<playlist><name>Вечер</name><items><track><title>e</title><path>" + m_dir.path() +
        "/share/e.mp3</path></track></items></playlist></list>";
    std::ofstream(base::toUtf8(path)) << original;
    std::ofstream(base::toUtf8(path) + ".bad") << "an earlier damage";

    ListOfPlaylist list;
    list.load(path);
    EXPECT_EQ(names(list), (std::vector<std::wstring>{L"Утро", L"День", L"Вечер"})) << "an emptied list stays";
    EXPECT_TRUE(list.getOne(0)->isEmpty());
    const std::wstring folder = base::fromUtf8(drive.substr(0, drive.size() - 1));
    EXPECT_EQ(logged(L"Папка плейлиста не существует: '" + folder + L"'", "INFO"), 1);
    EXPECT_EQ(logged(L"Файл '" + path + L"' прочитан не весь (не найдены папки треков: 1 (треков в них: 3), например «" +
                         folder + L"»); исходный файл сохранён как '" + path + L".bad.2'",
                     "WARN"),
              1);
    EXPECT_EQ(logged(L"Файл '" + path + L"' прочитан не весь (не найдены файлы треков: 1, например «" +
                         base::fromUtf8(m_dir.path()) + L"/share/e.mp3»); исходный файл сохранён как '" + path +
                         L".bad.2'",
                     "WARN"),
              1);
    EXPECT_EQ(logged(L"повреждён"), 0) << "nothing of the file is damaged";

    list.save(path);
    EXPECT_EQ(testing_support::readFile(base::toUtf8(path) + ".bad.2"), original) << "byte for byte";
    EXPECT_EQ(testing_support::readFile(base::toUtf8(path) + ".bad"), "an earlier damage");
}

// A drive of 500 tracks unplugged gave 500 notices, and five playlists on
// absent drives beside one whose files were gone gave 26: the operator hears
// once per cause, with the count and a few names. Copying the copy back by
// hand while tracks were still missing made a byte-identical ".bad.2".
TEST_F(ListOfPlaylistTest, MissingTracksAreToldOncePerCauseAndATakenBackCopyIsNotCopiedAgain) {
    const std::wstring path = xmlPath("list_of_playlist_music.xml");
    const std::string emptied = m_dir.path() + "/Музыка";  // the folder is there, its files are not
    boost::filesystem::create_directory(emptied);
    std::string lists = "<playlist><name>Утро</name><items>";
    for (int i = 1; i <= 20; ++i)
        lists += "<track><title>t</title><path>" + emptied + "/" + std::to_string(i) + ".mp3</path></track>";
    lists += "</items></playlist>";
    for (int drive = 1; drive <= 5; ++drive) {
        lists += "<playlist><name>Диск " + std::to_string(drive) + "</name><items>";
        for (const char* name : {"a.mp3", "b.mp3"})
            lists += "<track><title>t</title><path>/media/usb" + std::to_string(drive) + "/" + name +
                     "</path></track>";
        lists += "</items></playlist>";
    }
    const std::string original = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<list>" + lists + "</list>";
    std::ofstream(base::toUtf8(path)) << original;
    const auto notices = [&] { return logged(L"", "WARN") + logged(L"", "ERROR"); };
    const int before = notices();

    ListOfPlaylist list;
    list.load(path);
    EXPECT_EQ(list.getAll().size(), 6u);
    EXPECT_EQ(notices() - before, 2) << "one notice per cause, not per folder or track";
    const std::wstring copy = L"; исходный файл сохранён как '" + path + L".bad'";
    const std::wstring music = base::fromUtf8(emptied);
    EXPECT_EQ(logged(L"Файл '" + path + L"' прочитан не весь (не найдены папки треков: 5 (треков в них: 10), например " +
                         L"«/media/usb1»; «/media/usb2»; «/media/usb3», …)" + copy,
                     "WARN"),
              1);
    EXPECT_EQ(logged(L"Файл '" + path + L"' прочитан не весь (не найдены файлы треков: 20, например «" + music +
                         L"/1.mp3»; «" + music + L"/2.mp3»; «" + music + L"/3.mp3», …)" + copy,
                     "WARN"),
              1);
    EXPECT_EQ(logged(L"Путь некорректный '" + music + L"/", "INFO"), 20) << "the log keeps every track";
    EXPECT_EQ(logged(L"Папка плейлиста не существует: '/media/usb", "INFO"), 5);

    // The shutdown drops them; the operator takes the list back from its
    // copy while the drives are still out. The next start makes no copy of
    // the same bytes, and names the one that is there.
    list.save(path);
    ASSERT_EQ(testing_support::readFile(base::toUtf8(path) + ".bad"), original);
    std::ofstream(base::toUtf8(path), std::ios::trunc) << original;
    const int second = notices();
    ListOfPlaylist again;
    again.load(path);
    EXPECT_FALSE(boost::filesystem::exists(base::toUtf8(path) + ".bad.2")) << "no second identical copy";
    EXPECT_EQ(notices() - second, 2);
    EXPECT_EQ(logged(copy, "WARN"), 4);

    // A damaged entry beside them: one copy still, named by each notice.
    std::ofstream(base::toUtf8(path), std::ios::trunc)
        << "<?xml version=\"1.0\"?>\n<list>" + lists + "<playlist><name>Без треков</name></playlist></list>";
    ListOfPlaylist damaged;
    damaged.load(path);
    EXPECT_TRUE(boost::filesystem::exists(base::toUtf8(path) + ".bad.2"));
    EXPECT_FALSE(boost::filesystem::exists(base::toUtf8(path) + ".bad.3"));
    EXPECT_EQ(logged(L"сохранён как '" + path + L".bad.2'", "WARN"), 3) << "the damage and the two causes";
}

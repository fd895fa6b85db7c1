// fuzz-area: audio
// The XML state files: the generic loader (a damaged file is set aside, not
// thrown at the caller) and the list of playlists built from what it read.
// Whatever loads is saved and loaded again. The input is the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include <boost/property_tree/ptree.hpp>

#include "audio/list_of_playlist.h"
#include "audio/playlist.h"
#include "base/storage.h"
#include "base/text.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring path =
        base::fromUtf8(fuzz::writeInput("playlists.xml", reinterpret_cast<const char*>(data), size));
    boost::property_tree::wptree tree;
    if (!storage::load(path, tree)) return 0;

    ListOfPlaylist list;
    list.take(tree, path);
    for (const auto& playlist : list.getAll()) {
        (void)playlist->getName();
        for (const auto& item : playlist->getItems()) (void)playlist->checkItem(item);
    }
    const std::wstring copy = path + L".copy.xml";
    list.save(copy);
    ListOfPlaylist again;
    boost::property_tree::wptree reread;
    if (storage::load(copy, reread)) again.take(reread, copy);
    storage::save(copy, tree);
    return 0;
}

#include "gui/message_tree_store.h"

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/ptree.hpp>

#include "audio/place_folders.h"
#include "base/files.h"
#include "base/log.h"
#include "base/storage.h"
#include "base/text.h"

namespace frm {

using boost::property_tree::wptree;

namespace {

void writeItems(const std::vector<MessageNode>& items, wptree& node, const std::wstring& ownFolder) {
    for (const MessageNode& item : items) {
        if (item.type == kMessageGroup) {
            wptree& group = node.add_child(L"group", wptree());
            group.add(L"name", item.name);
            writeItems(item.children, group, ownFolder);
        } else if (item.type == kMessageItem) {
            wptree& message = node.add_child(L"message", wptree());
            message.add(L"name", item.name);
            std::wstring path = item.messagePath;
            makeAbsolutePath(path, ownFolder);
            message.add(L"message", path);
            // Gongs are looked for in the message folder too, not in the
            // gong folder.
            std::wstring gong = item.gongPath;
            makeAbsolutePath(gong, ownFolder);
            message.add(L"gong", gong);
        } else {
            LOG_ERROR(L"Internal error. Uncknown type '%1%'", item.type);
        }
    }
}

bool fileExists(const std::wstring& path) {
    boost::system::error_code ec;
    return boost::filesystem::exists(base::toUtf8(path), ec);
}

/// Builds the page's items from the elements under "tree", skipping what is
/// broken.
class TreeReader {
public:
    TreeReader(const std::wstring& path, const MessageFolders& folders, std::vector<MessageNode>& items)
        : m_path(path), m_folders(folders), m_items(items) {}

    /// `parent`: the index of the group that receives messages, or -1 for
    /// the top level. Indexes, since a nested group joins the same vector.
    void walk(const wptree& node, long parent) {
        for (const auto& child : node) {
            if (child.first == L"group")
                readGroup(child.second);
            else if (child.first == L"message")
                readMessage(child.second, parent);
        }
    }

    int skipped() const { return m_skipped; }

private:
    void readGroup(const wptree& element) {
        const auto name = element.get_child_optional(L"name");
        if (!name) {
            ++m_skipped;
            LOG_INFO(L"Файл '%1%': группа без названия (name) пропущена вместе с её сообщениями", m_path);
            return;
        }
        MessageNode group;
        group.type = kMessageGroup;
        group.name = name->data();
        m_items.push_back(std::move(group));
        walk(element, static_cast<long>(m_items.size()) - 1);
    }

    void readMessage(const wptree& element, long parent) {
        MessageNode message;
        message.type = kMessageItem;
        message.name = element.get(L"name", std::wstring());
        for (const wchar_t* key : {L"name", L"message", L"gong"}) {
            if (!element.get_child_optional(key)) {
                ++m_skipped;
                LOG_INFO(L"Файл '%1%': сообщение '%2%' без элемента '%3%' пропущено", m_path, message.name,
                         key);
                return;
            }
        }
        message.messagePath = resolved(element.get<std::wstring>(L"message"));
        message.gongPath = resolved(element.get<std::wstring>(L"gong"));
        if (parent < 0)
            m_items.push_back(std::move(message));
        else
            m_items[static_cast<std::size_t>(parent)].children.push_back(std::move(message));
    }

    std::wstring resolved(std::wstring path) const {
        if (!makeAbsolutePath(path, m_folders.own)) makeAbsolutePath(path, m_folders.recorded);
        return path;
    }

    const std::wstring& m_path;
    const MessageFolders& m_folders;
    std::vector<MessageNode>& m_items;
    int m_skipped = 0;
};

}  // namespace

std::wstring messageFolder(bool alarm, const std::wstring& dataFolder) {
    return placeFolder(alarm ? PlaceFolder::kAlarmMessage : PlaceFolder::kServiceMessage, dataFolder);
}

std::wstring recordedMessageFolder(const std::wstring& dataFolder) {
    return placeFolder(PlaceFolder::kRecordedMessage, dataFolder);
}

wptree messageTreeFile(const std::vector<MessageNode>& items, const std::wstring& ownFolder) {
    wptree file;
    writeItems(items, file.add_child(L"tree", wptree()), ownFolder);
    return file;
}

MessageFileRead readMessageFile(const std::wstring& path, const MessageFolders& folders,
                                std::vector<MessageNode>& items) {
    const bool existed = fileExists(path);
    wptree file;
    if (!storage::load(path, file)) {
        LOG_EXTERN(L"Service message not loaded");
        if (!existed || fileExists(path)) return MessageFileRead::kNotRead;
        // storage::load has set the damaged file aside and told the operator.
        LOG_INFO(L"Сообщения из файла '%1%' не загружены: файл повреждён", path);
        return MessageFileRead::kSetAside;
    }
    const auto tree = file.get_child_optional(L"tree");
    if (!tree) {
        storage::setAside(path, "no element tree");
        LOG_EXTERN(L"Service message not loaded");
        LOG_INFO(L"Сообщения из файла '%1%' не загружены: файл повреждён", path);
        return MessageFileRead::kSetAside;
    }
    TreeReader reader(path, folders, items);
    reader.walk(*tree, -1);
    if (reader.skipped() == 0) return MessageFileRead::kLoaded;
    // The shutdown save writes only what loaded: one warning for the file,
    // with the count, and the file as it was beside it.
    const std::wstring count = std::to_wstring(reader.skipped());
    storage::keepCopy(path, base::toUtf8(count) + " entries skipped", L"пропущено записей: " + count);
    return MessageFileRead::kItemsSkipped;
}

}  // namespace frm

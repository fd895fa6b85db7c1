#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <cstdint>
#include <string>
#include <vector>

// service_message.xml and alarm_message.xml, the trees of the two message
// pages, without any window. GUI thread (start-up and shutdown); no shared
// state.
//
// The file:
//   tree
//     group (repeated)          name first, then its items in tree order
//       name
//       message (repeated)      name, message, gong, in this order; gong
//         name, message, gong   empty (<gong/>) when the message has none
//       group                   a nested group: read as a top-level group
//     message                   a top-level message (hand-written files only)
// Elements only, no attributes; every element behind its siblings, so the
// file keeps the tree's order.
namespace frm {

/// Item types of a message tree.
constexpr std::uint32_t kMessageGroup = 0;
constexpr std::uint32_t kMessageItem = 1;

/// One item of a message tree; a group's items are its children.
struct MessageNode {
    std::uint32_t type = kMessageGroup;
    std::wstring name;
    /// Full paths; empty for a group, and the gong empty when there is none.
    std::wstring gongPath;
    std::wstring messagePath;
    std::vector<MessageNode> children;
};

/// The page's own message folder: the setting "place.pathDirAlarmMessage"
/// (alarm page) or "place.pathDirServiceMessage", created empty when
/// missing; empty means the data folder's "alarm" or "service".
std::wstring messageFolder(bool alarm, const std::wstring& dataFolder);
/// The recorded messages' folder: "place.pathDirRecordedMessage", empty
/// meaning the data folder's "record".
std::wstring recordedMessageFolder(const std::wstring& dataFolder);

/// Where stored paths are looked for when their files have moved: the
/// page's own folder, then the recordings'.
struct MessageFolders {
    std::wstring own;
    std::wstring recorded;
};

/// The file's tree. A message's and a gong's path are written as found in
/// the own folder when the file is no longer where the path says; the nodes
/// themselves do not change. An item of another type is left out with an
/// ERROR.
boost::property_tree::wptree messageTreeFile(const std::vector<MessageNode>& items,
                                             const std::wstring& ownFolder);

enum class MessageFileRead {
    /// Everything was read.
    kLoaded,
    /// Broken items were skipped (an INFO line each) and the rest read; the
    /// original file is copied aside (storage::keepCopy) with one WARN naming
    /// the file and how many were skipped, since the next save writes the
    /// tree without them.
    kItemsSkipped,
    /// No file, or one that could not be read: nothing read.
    kNotRead,
    /// Not well-formed XML, or no "tree": set aside as "<path>.bad" with the
    /// one WARN of storage::setAside; nothing read.
    kSetAside,
};

/// Reads the file into `items` (appended), as the page's loader builds its
/// tree: every group at the top level in document order, a nested group
/// right behind the groups met before it, each message under the group that
/// holds it in the file; a message's and a gong's path resolved against the
/// own folder, else the recordings' folder, else kept as written. kNotRead
/// and kSetAside also log the EXTERN "Service message not loaded".
MessageFileRead readMessageFile(const std::wstring& path, const MessageFolders& folders,
                                std::vector<MessageNode>& items);

}  // namespace frm

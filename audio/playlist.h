#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/core/noncopyable.hpp>
#include <boost/function.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include "audio/base_control_list.h"

/// A named, ordered list of playable items (files, internet streams, test
/// tones, audio inputs) with a current position, a repeat flag and three
/// observers: the end of the list, a stop by request, and whether an item
/// plays.
///
/// Threads: the GUI thread edits it, the player (any thread) and dispatcher
/// jobs move through it; one recursive lock guards everything but the
/// selection. The observers never run under that lock: they are queued on the
/// thread dispatcher, so they may call back into the playlist or the player.
class Playlist final : public BaseControlList, private boost::noncopyable {
public:
    static constexpr std::uint32_t k_no_id = 0xFFFFFFFF;

    struct Item {
        std::wstring title;
        std::wstring path;
        std::uint32_t id = k_no_id;

        /// Same id (a real one), same path, same title.
        bool operator==(const Item& other) const {
            return id != k_no_id && id == other.id && path == other.path && title == other.title;
        }
        bool operator!=(const Item& other) const { return !(*this == other); }
    };

    Playlist(std::wstring name, bool repeat);

    /// Appends one item with the next id; the id is used up even when the
    /// item is refused, so ids never repeat within the list.
    bool add(const std::wstring& title, const std::wstring& path);
    /// Appends the acceptable ones, each with a new id (the given ids do not count).
    void add(const std::vector<Item>& items);
    /// Replaces title and path of the item with the same id.
    bool edit(const Item& item);
    /// An item is acceptable with a title and a path that exists on disk or
    /// names a stream, a tone or an audio input.
    bool checkItem(const Item& item);
    /// The path of an acceptable item: one that exists on disk or names a
    /// stream, a tone or an audio input.
    static bool pathAcceptable(const std::wstring& path);

    std::vector<Item> getItems();
    bool isEmpty();
    /// Has items and has not ended.
    bool isPlayable();
    void clear();
    std::wstring getName();
    void setName(const std::wstring& name);

    /// The item at the position; a position past the end stops the program.
    Item current();
    /// Moves to the index, clears the end mark, returns that item.
    Item setCurrent(unsigned index);
    std::uint32_t getCurrentPosition();
    /// The following item; past the last one the end is signalled and the
    /// position wraps to 0. An empty list stops the program.
    Item next();
    /// The item before; from the first one, the last. No end signal.
    Item previous();

    /// The end observer stays installed; the stop observer runs once.
    void setCallbackIfEnd(boost::function<void()> callback);
    void setCallbackIfStop(boost::function<void()> callback);
    void setCallbackPlaying(boost::function<void(bool)> callback);
    void notifyEnd();
    void notifyStop();
    void notifyPlaying(bool playing);

    void deleteSelected() override;
    int moveItem(unsigned from, unsigned to) override;

private:
    bool m_repeat;
    bool m_ended = false;
    boost::function<void()> m_onEnd;
    boost::function<void()> m_onStop;
    boost::function<void(bool)> m_onPlaying;
    std::wstring m_name;
    std::vector<Item> m_items;
    std::uint32_t m_position = 0;
    std::uint32_t m_nextId = 0;
    boost::recursive_mutex m_lock;
};

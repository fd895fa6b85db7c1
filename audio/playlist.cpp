#include "audio/playlist.h"

#include <algorithm>

#include <boost/thread/lock_guard.hpp>
#include <boost/filesystem/operations.hpp>

#include "base/check.h"
#include "base/dbg.h"
#include "base/log.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"

namespace {

using Lock = boost::lock_guard<boost::recursive_mutex>;

/// Streams, tones and audio inputs are not looked up on disk.
bool namesASource(const std::wstring& path) {
    for (const wchar_t* scheme : {L"http://", L"sine://", L"adev://", L"line://"})
        if (path.find(scheme) != std::wstring::npos) return true;
    return false;
}

bool existsOnDisk(const std::wstring& path) {
    boost::system::error_code ec;  // an unreachable entry counts as missing
    return boost::filesystem::exists(base::toUtf8(path), ec);
}

}  // namespace

Playlist::Playlist(std::wstring name, bool repeat) : m_repeat(repeat), m_name(std::move(name)) {}

bool Playlist::pathAcceptable(const std::wstring& path) {
    return !path.empty() && (namesASource(path) || existsOnDisk(path));
}

bool Playlist::checkItem(const Item& item) {
    Lock lock(m_lock);
    const bool pathAcceptable = Playlist::pathAcceptable(item.path);
    if (item.id <= m_nextId && !item.title.empty() && pathAcceptable) return true;
    dbg_puts(EXTERN, "Skip adding into playlist (name '%ls'). id '%u', title '%ls', path '%ls'", m_name.c_str(),
             item.id, item.title.c_str(), item.path.c_str());
    if (!pathAcceptable) LOG_WARN(L"Путь некорректный '%1%'", item.path);
    return false;
}

bool Playlist::add(const std::wstring& title, const std::wstring& path) {
    dbg_puts(TRACE2, "%s(..)", "Playlist::add");
    Lock lock(m_lock);
    if (title.empty() || path.empty())
        dbg_puts(WARN, "Internal error. Title or path is empty, title is '%ls', path is '%ls'", title.c_str(),
                 path.c_str());
    Item item{title, path, m_nextId++};
    dbg_puts(TRACE2, "Playlist '%ls', add: title '%ls', index %u, path '%ls'", m_name.c_str(), title.c_str(),
             item.id, path.c_str());
    if (!checkItem(item)) return false;
    m_items.push_back(std::move(item));
    return true;
}

void Playlist::add(const std::vector<Item>& items) {
    dbg_puts(TRACE2, "%s(..)", "Playlist::add");
    Lock lock(m_lock);
    for (const Item& given : items) {
        Item item{given.title, given.path, m_nextId++};
        if (checkItem(item)) m_items.push_back(std::move(item));
    }
}

bool Playlist::edit(const Item& item) {
    Lock lock(m_lock);
    dbg_puts(TRACE, "Playlist '%ls', edit: title '%ls', index %u, path '%ls'", m_name.c_str(),
             item.title.c_str(), item.id, item.path.c_str());
    if (!checkItem(item)) return false;
    for (Item& mine : m_items) {
        if (mine.id != item.id) continue;
        mine.title = item.title;
        mine.path = item.path;
        return true;
    }
    return false;
}

std::vector<Playlist::Item> Playlist::getItems() {
    Lock lock(m_lock);
    return m_items;
}

bool Playlist::isEmpty() {
    Lock lock(m_lock);
    return m_items.empty();
}

bool Playlist::isPlayable() {
    Lock lock(m_lock);
    return !m_items.empty() && !m_ended;
}

void Playlist::clear() {
    dbg_puts(TRACE2, "%s(..)", "Playlist::clear");
    Lock lock(m_lock);
    m_items.clear();
    m_position = 0;
    m_nextId = 0;
}

std::wstring Playlist::getName() {
    Lock lock(m_lock);
    return m_name;
}

void Playlist::setName(const std::wstring& name) {
    dbg_puts(TRACE, "Playlist::setName(%ls)", name.c_str());
    Lock lock(m_lock);
    m_name = name;
}

Playlist::Item Playlist::current() {
    Lock lock(m_lock);
    error::terminateIfOutOfRange(m_items.size(), m_position, "Playlist::current");
    return m_items[m_position];
}

Playlist::Item Playlist::setCurrent(unsigned index) {
    Lock lock(m_lock);
    dbg_puts(TRACE, "Playlist. Set current position %u, old %u", index, m_position);
    error::terminateIfOutOfRange(m_items.size(), index, "Playlist::current");
    m_position = index;
    m_ended = false;
    return current();
}

std::uint32_t Playlist::getCurrentPosition() {
    Lock lock(m_lock);
    dbg_puts(TRACE, "Playlist::getCurrentPosition(), playlist name is '%ls', position %u", m_name.c_str(),
             m_position);
    return m_position;
}

Playlist::Item Playlist::next() {
    dbg_puts(TRACE2, "%s(..)", "Playlist::next");
    Lock lock(m_lock);
    error::terminateIfEmpty(m_items, "Playlist::next");
    if (m_position + 1 >= m_items.size()) {
        notifyEnd();
        m_position = 0;
    } else {
        ++m_position;
    }
    return current();
}

Playlist::Item Playlist::previous() {
    dbg_puts(TRACE2, "%s(..)", "Playlist::previous");
    Lock lock(m_lock);
    error::terminateIfEmpty(m_items, "Playlist::previous");
    m_position = (m_position == 0 ? static_cast<std::uint32_t>(m_items.size()) : m_position) - 1;
    return current();
}

void Playlist::setCallbackIfEnd(boost::function<void()> callback) {
    dbg_puts(TRACE2, "%s(..)", "Playlist::setCallbackIfEnd");
    Lock lock(m_lock);
    m_onEnd = std::move(callback);
}

void Playlist::setCallbackIfStop(boost::function<void()> callback) {
    dbg_puts(TRACE2, "%s(..)", "Playlist::setCallbackIfStop");
    Lock lock(m_lock);
    m_onStop = std::move(callback);
}

void Playlist::setCallbackPlaying(boost::function<void(bool)> callback) {
    Lock lock(m_lock);
    m_onPlaying = std::move(callback);
}

void Playlist::notifyEnd() {
    dbg_puts(TRACE2, "%s(..)", "Playlist::notifyEnd");
    Lock lock(m_lock);
    m_ended = !m_repeat;
    if (!m_onEnd) return;
    dbg_puts(DEBUG, "Playlist '%ls' is ended. create callback.", m_name.c_str());
    base::ThreadDispatcher::add(L"notifyEnd", 0, m_onEnd);
}

void Playlist::notifyStop() {
    dbg_puts(TRACE2, "%s(..)", "Playlist::notifyStop");
    Lock lock(m_lock);
    if (!m_onStop) return;
    dbg_puts(DEBUG, "Playlist '%ls' notified stop. create callback", m_name.c_str());
    base::ThreadDispatcher::add(L"notifyStop", 0, m_onStop);
    m_onStop.clear();
}

void Playlist::notifyPlaying(bool playing) {
    dbg_puts(TRACE2, "%s(..)", "Playlist::notifyPlaying");
    Lock lock(m_lock);
    if (!m_onPlaying) return;
    dbg_puts(DEBUG, "Playlist '%ls' currently playing (%s). create callback", m_name.c_str(),
             playing ? "true" : "false");
    boost::function<void(bool)> callback = m_onPlaying;
    base::ThreadDispatcher::add(L"notifyPlaying", 0, [callback, playing] { callback(playing); });
}

void Playlist::deleteSelected() {
    dbg_puts(TRACE2, "%s(..)", "Playlist::deleteSelected");
    Lock lock(m_lock);
    const bool hadCurrent = m_position < m_items.size();
    const Item remembered = hadCurrent ? m_items[m_position] : Item();
    eraseSelected(m_items);
    const auto kept = std::find(m_items.begin(), m_items.end(), remembered);
    m_position = kept == m_items.end() ? 0 : static_cast<std::uint32_t>(kept - m_items.begin());
}

int Playlist::moveItem(unsigned from, unsigned to) {
    dbg_puts(TRACE2, "%s(..)", "Playlist::moveItem");
    Lock lock(m_lock);
    if (from >= m_items.size() || to >= m_items.size()) {
        dbg_puts(ERROR, "%s", "Internal error. list index out of bounds");
        return -1;
    }
    if (from != to && m_position >= std::min(from, to) && m_position <= std::max(from, to)) {
        if (m_position == from) m_position = to;
        else if (from < to) --m_position;
        else ++m_position;
    }
    Item moved = m_items[from];
    m_items.erase(m_items.begin() + from);
    m_items.insert(m_items.begin() + to, std::move(moved));
    return static_cast<int>(to);
}

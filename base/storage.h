#pragma once

#include <boost/property_tree/ptree.hpp>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The XML state files: a wide property tree written as one UTF-8 XML file
// and read back. The shapes of the trees belong to their owners; this is the
// encoding, the layout and the failure behaviour common to all of them.
// Called from the GUI thread (start-up and shutdown); no shared state.
namespace storage {

/// Writes the tree as "<?xml version=\"1.0\" encoding=\"utf-8\"?>", a line
/// feed and the elements without indentation. The old file is replaced only
/// by a complete, checked new one. A tree that cannot make a well-formed
/// document (no single root element, a key that is no XML name) is not
/// written; characters XML cannot hold are replaced by U+FFFD. Failures log
/// an ERROR (a failed write through reportSaveFailure) and return false:
/// nothing is thrown, so a shutdown saving several files goes on with the
/// next one.
bool save(const std::wstring& path, const boost::property_tree::wptree& tree);

/// How deep the elements of a state file may nest: far deeper than any file
/// of ours, far shallower than what overflows the parser's recursion.
constexpr std::size_t kMaxDepth = 1000;

/// While one lives, save on its thread records the trees instead of writing
/// them: the owners' own save calls then hand over what they would write,
/// in the format they write, for writing elsewhere (see BackgroundSaver).
class SaveCapture {
public:
    SaveCapture();
    ~SaveCapture();
    SaveCapture(const SaveCapture&) = delete;
    SaveCapture& operator=(const SaveCapture&) = delete;

    /// What save was handed, in order.
    std::vector<std::pair<std::wstring, boost::property_tree::wptree>> saved;

private:
    SaveCapture* m_outer;
};

/// Keeps a session's changes in their files within seconds, not only at
/// exit: the GUI thread offers the trees of its state files (cheap snapshots
/// of what it owns) and a worker thread renders them and writes each file
/// whose text changed, through save. The first tree offered for a file is
/// only remembered: it is what start-up read. Offers that come faster than
/// the worker writes replace each other, so a burst of changes makes one
/// write. The exit save calls stop first, so that no late write of the
/// worker lands after it.
class BackgroundSaver {
public:
    BackgroundSaver();
    ~BackgroundSaver();
    BackgroundSaver(const BackgroundSaver&) = delete;
    BackgroundSaver& operator=(const BackgroundSaver&) = delete;

    /// Any thread; ignored after stop.
    void offer(const std::wstring& path, boost::property_tree::wptree tree);
    /// True when nothing offered is waiting or being written.
    bool idle();
    /// Drops what waits, finishes a write under way and ends the worker.
    /// Idempotent.
    void stop();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    /// The first tree of each file, only to be remembered, and the later ones.
    std::vector<std::pair<std::wstring, boost::property_tree::wptree>> m_firsts;
    std::map<std::wstring, boost::property_tree::wptree> m_waiting;
    std::map<std::wstring, bool> m_seen;
    std::map<std::wstring, std::size_t> m_written;  // hash of each file's last text
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_worker;
};

/// Tells the operator once that a file could not be written: an ERROR in
/// Russian naming the file and the reason from the errno value `code` (no
/// space, read-only, no permission), once per file and reason until a save
/// of the file succeeds again; every failure logs that reason at INFO and
/// `detail` (the system's words) at DEBUG. Any thread.
void reportSaveFailure(const std::wstring& path, int code, const std::string& detail);
/// A save of the file succeeded: its next failure is told again.
void reportSaveSuccess(const std::wstring& path);

/// Reads the file into the tree (replacing its content). False with an EXTERN
/// line when there is no file, with an ERROR line when it cannot be read. A
/// damaged file is set aside (see setAside) so that it is neither lost nor
/// saved over, and the result is false with the tree untouched: one that is
/// not well-formed XML or not UTF-8, an empty one or one without a root
/// element (both only a cut-short write leaves), and one whose elements nest
/// deeper than kMaxDepth (checked before parsing).
bool load(const std::wstring& path, boost::property_tree::wptree& tree);

/// Moves a file its owner cannot use out of its place to a free ".bad" name
/// (see base::moveAside; an earlier copy is never overwritten, and one that
/// holds the same bytes keeps them alone) with a WARN naming the reason
/// (UTF-8), as load does for a damaged one: an owner whose file reads as XML
/// but lacks its root keeps it for the operator this way.
void setAside(const std::wstring& path, const std::string& reason);

/// Copies a file its owner read only in part to a free ".bad" name, before
/// the owner's next save drops what was not read, with a WARN naming the
/// reason (UTF-8) and the copy. An earlier copy of the same bytes stands for
/// the new one (see base::copyAside). False (with an ERROR) when there is no
/// copy.
bool keepCopy(const std::wstring& path, const std::string& reason);
/// The same, the damage told in the owner's own words (Russian): which
/// entries of which list were left out. `reason` goes to the log only.
bool keepCopy(const std::wstring& path, const std::string& reason, const std::wstring& damage);
/// Copies a file whose owner left out entries that name files not there
/// now (a drive unplugged, a share not mounted) as keepCopy does, before the
/// owner's next save writes the file without them, from which the operator
/// takes the entries back once the files are there again. One WARN per
/// text of `missing` (the owner's words in Russian, one for each cause,
/// with its count and a few of the entries) names the copy; a file the
/// operator took back from its copy makes no second one. False (with an
/// ERROR per cause) when there is no copy.
bool keepCopyOfMissing(const std::wstring& path, const std::vector<std::wstring>& missing);

/// The deepest nesting of elements in an XML text, counted up to one past
/// kMaxDepth without parsing.
std::size_t nestingDepthOf(const std::string& text);
/// What setAside tells the operator of a reason: the line of a parser error
/// ("ошибка в строке 2"), a missing root element or bytes that are no
/// UTF-8, in Russian; the reason itself goes to the log.
std::wstring damageForOperator(const std::string& reason);

}  // namespace storage

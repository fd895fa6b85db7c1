#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace device {

/// What one apply of settings has written to a device, key by key: the keys
/// the configuration writers mean to send ("set <key> <value>"), in their
/// order, how many of them the device has confirmed, and whether the writes
/// may still begin. Whoever applies settings keeps a journal for the apply
/// and installs it on the thread that writes (Scope); the loudspeaker's and
/// the console's configuration writers report to the journal of their
/// thread, and writers without one (the memory watch's deferred settings,
/// say) write as before.
///
/// Before its first key a writer asks the journal (begin); once the owner has
/// withheld the writes, a write that has not begun sends nothing and throws
/// WritesWithheld, so that the device stays as it was. Writes that began go
/// on: a device left with half of its keys is worse than one that takes a
/// little longer.
///
/// Threads: the writer's thread reports, any thread reads a snapshot or
/// withholds; one mutex guards it all.
class ConfigJournal {
public:
    /// One key a writer sends: the request's key, and the record's field it
    /// carries ("ip", "multicastAin1"), by which the user interface names it.
    struct Key {
        std::string key;
        std::string field;
    };

    /// What the journal holds at one moment.
    struct Snapshot {
        std::vector<Key> planned;
        /// planned[0..written) reached the device.
        std::size_t written = 0;
        /// A write began (keys or another request the apply sends).
        bool begun = false;
        /// The owner stopped the writes that had not begun.
        bool withheld = false;
    };

    /// What a write throws, before it sends anything, once the writes were
    /// withheld. Deliberately no exception of the program's family: the
    /// handlers between the writer and the apply let it pass.
    struct WritesWithheld {};

    /// Writer: a write is about to begin (`keys` planned after those before).
    /// Throws WritesWithheld when the owner withheld the writes before any
    /// began.
    void begin(const std::vector<Key>& keys = {});
    /// Writer: the next planned key reached the device.
    void written();

    /// Owner, any thread: no write begins from now on. True when writes had
    /// begun already (they go on to their end).
    bool withhold();
    Snapshot snapshot() const;

    /// The journal the writers on this thread report to (null: none).
    static ConfigJournal* current();

    /// Makes `journal` this thread's while it lives; the one before comes back.
    class Scope {
    public:
        explicit Scope(ConfigJournal& journal);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        ConfigJournal* m_before;
    };

private:
    mutable std::mutex m_mutex;
    Snapshot m_state;
};

/// The keys a configuration writer has decided to send, each with what sends
/// it. run() reports them to the thread's journal: it asks it first (the
/// writes may have been withheld: nothing is sent), then sends the keys in
/// order and tells each confirmed one. A key that fails ends the run with its
/// exception; the keys after it are not sent.
class ConfigWrites {
public:
    /// Sends the key; true when the device restarts for it.
    using Send = std::function<bool()>;

    void add(const std::string& key, const std::string& field, Send send);
    bool empty() const { return m_writes.empty(); }
    /// True when any key needs the device's restart. `begun` runs once the
    /// journal has let the writes begin, before the first key: what the
    /// writer keeps of the new settings is taken only then.
    bool run(const std::function<void()>& begun = {});

private:
    struct Write {
        ConfigJournal::Key key;
        Send send;
    };
    std::vector<Write> m_writes;
};

}  // namespace device

#include "device/models/config_journal.h"

namespace device {

namespace {

thread_local ConfigJournal* t_journal = nullptr;

}  // namespace

void ConfigJournal::begin(const std::vector<Key>& keys) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state.withheld && !m_state.begun) throw WritesWithheld();
    m_state.begun = true;
    m_state.planned.insert(m_state.planned.end(), keys.begin(), keys.end());
}

void ConfigJournal::written() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state.written < m_state.planned.size()) ++m_state.written;
}

bool ConfigJournal::withhold() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.withheld = true;
    return m_state.begun;
}

ConfigJournal::Snapshot ConfigJournal::snapshot() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

ConfigJournal* ConfigJournal::current() { return t_journal; }

ConfigJournal::Scope::Scope(ConfigJournal& journal) : m_before(t_journal) { t_journal = &journal; }

ConfigJournal::Scope::~Scope() { t_journal = m_before; }

void ConfigWrites::add(const std::string& key, const std::string& field, Send send) {
    m_writes.push_back({{key, field}, std::move(send)});
}

bool ConfigWrites::run(const std::function<void()>& begun) {
    ConfigJournal* journal = ConfigJournal::current();
    if (journal != nullptr && !m_writes.empty()) {
        std::vector<ConfigJournal::Key> keys;
        for (const Write& write : m_writes) keys.push_back(write.key);
        journal->begin(keys);
    }
    if (begun) begun();
    bool restart = false;
    for (const Write& write : m_writes) {
        restart = write.send() || restart;
        if (journal != nullptr) journal->written();
    }
    return restart;
}

}  // namespace device

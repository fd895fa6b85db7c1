#include "device/memory/memory_content.h"

#include <algorithm>
#include <set>

#include <boost/format.hpp>

#include "base/exception.h"
#include "base/log.h"
#include "base/text_checks.h"

namespace device::memory {

namespace {

constexpr std::uint16_t kNone = 0xFFFF;
constexpr std::uint16_t kLastFragmentId = 0xFFFC;   // 0xFFFD..0xFFFF are markers
constexpr std::uint16_t kLastScenarioId = 32766;    // the highest id the configuration takes

void checkTitle(const std::wstring& title) {
    if (!isValidTitle(title)) throw exception::IncorrectFormat(L"Некорректное название");
}

template <class T>
std::uint16_t lowestUnusedId(const std::vector<T>& items, std::uint16_t (*idOf)(const T&), std::uint16_t last) {
    std::set<std::uint16_t> used;
    for (const auto& item : items) used.insert(idOf(item));
    for (std::uint32_t id = 0; id <= last; ++id)
        if (!used.count(static_cast<std::uint16_t>(id))) return static_cast<std::uint16_t>(id);
    throw exception::UserError(L"Нет свободных номеров в аудио памяти", L"");
}

}  // namespace

MemoryContent MemoryContent::fromCatalogue(const MemoryLimits& limits, const Catalogue& catalogue) {
    MemoryContent content(limits);
    for (const auto& record : catalogue.fragments) content.m_fragments.push_back({record, nullptr});
    content.m_scenarios = catalogue.scenarios;
    if (content.m_scenarios.size() > limits.maxScenarios) {
        LOG_WARN(L"The memory holds %1% scenarios, the model keeps %2%", content.m_scenarios.size(),
                 limits.maxScenarios);
        content.m_scenarios.resize(limits.maxScenarios);
    }
    content.renumberScenarios();
    return content;
}

MemoryContent MemoryContent::fromImage(const MemoryLimits& limits, const Image& image) {
    MemoryContent content(limits);
    for (std::size_t i = 0; i < image.catalogue.fragments.size(); ++i) {
        Fragment fragment{image.catalogue.fragments[i], image.data[i]};
        fragment.record.offset = 0;  // not in the device yet
        content.m_fragments.push_back(fragment);
    }
    content.m_scenarios = image.catalogue.scenarios;
    if (image.catalogue.layout != limits.layout)
        LOG_INFO(L"An image of layout %1% is taken into layout %2%", image.catalogue.layout, limits.layout);
    if (content.m_scenarios.size() > limits.maxScenarios) {
        if (limits.maxScenarios == 0)
            LOG_INFO(L"The scenarios of the image are dropped: the console keeps none (%1%)",
                     content.m_scenarios.size());
        else
            LOG_WARN(L"The image holds %1% scenarios, the model keeps %2%", content.m_scenarios.size(),
                     limits.maxScenarios);
        content.m_scenarios.resize(limits.maxScenarios);
    }
    // A scenario playing a fragment the image lacks could never be listed.
    content.m_scenarios.erase(
        std::remove_if(content.m_scenarios.begin(), content.m_scenarios.end(),
                       [&](const ScenarioInfo& s) {
                           return content.fragmentPosition(s.messageId) == kNone ||
                                  (s.gongId != kNone && content.fragmentPosition(s.gongId) == kNone);
                       }),
        content.m_scenarios.end());
    content.renumberScenarios();
    if (content.m_fragments.size() > limits.maxFragments || content.imageSize() > limits.capacity)
        throw exception::UserError(L"Образ не помещается в память устройства", L"");
    return content;
}

std::vector<FragmentRecord> MemoryContent::records() const {
    std::vector<FragmentRecord> records;
    records.reserve(m_fragments.size());
    for (const auto& fragment : m_fragments) records.push_back(fragment.record);
    return records;
}

std::uint32_t MemoryContent::imageSize() const {
    std::uint64_t size = kRootSize + kFragmentRecordSize * m_fragments.size() + kScenarioRecordSize * m_scenarios.size();
    for (const auto& fragment : m_fragments) size += fragment.record.size;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFFu));
}

std::uint32_t MemoryContent::freeSize() const {
    const std::uint32_t used = imageSize();
    return used >= m_limits.capacity ? 0 : m_limits.capacity - used;
}

std::uint16_t MemoryContent::fragmentPosition(std::uint16_t id) const {
    for (std::size_t i = 0; i < m_fragments.size(); ++i)
        if (m_fragments[i].record.id == id) return static_cast<std::uint16_t>(i + 1);
    return kNone;
}

std::uint16_t MemoryContent::fragmentId(std::uint16_t position) const {
    if (position == 0 || position > m_fragments.size()) return kNone;
    return m_fragments[position - 1].record.id;
}

std::uint16_t MemoryContent::scenarioPosition(std::uint16_t id) const {
    for (std::size_t i = 0; i < m_scenarios.size(); ++i)
        if (m_scenarios[i].id == id) return static_cast<std::uint16_t>(i + 1);
    return kNone;
}

std::uint16_t MemoryContent::scenarioId(std::uint16_t position) const {
    if (position == 0 || position > m_scenarios.size()) return kNone;
    return m_scenarios[position - 1].id;
}

std::vector<FragmentInfo> MemoryContent::fragmentList() const {
    std::vector<FragmentInfo> list;
    for (std::size_t i = 0; i < m_fragments.size(); ++i) {
        const auto& record = m_fragments[i].record;
        list.push_back({record.id, static_cast<std::uint16_t>(i + 1), record.title, record.size});
    }
    return list;
}

const MemoryContent::Fragment& MemoryContent::fragment(std::uint16_t id) const {
    const std::uint16_t position = fragmentPosition(id);
    if (position == kNone) throw exception::InternalError(L"fragment position out of range");
    return m_fragments[position - 1];
}

std::uint16_t MemoryContent::addFragment(const std::wstring& title, const std::string& bytes) {
    checkTitle(title);
    if (bytes.empty()) throw exception::IncorrectFormat(L"Пустой фрагмент");
    if (m_fragments.size() >= m_limits.maxFragments)
        throw exception::UserError(L"Достигнуто наибольшее число фрагментов", L"");
    if (static_cast<std::uint64_t>(bytes.size()) + kFragmentRecordSize > freeSize())
        throw exception::UserError(L"Недостаточно свободной аудио памяти", L"");
    Fragment fragment;
    fragment.record.id = lowestUnusedId<Fragment>(
        m_fragments, [](const Fragment& f) { return f.record.id; }, kLastFragmentId);
    fragment.record.size = static_cast<std::uint32_t>(bytes.size());
    fragment.record.crc = memoryCrc(bytes);
    fragment.record.title = title;
    fragment.data = std::make_shared<const std::string>(bytes);
    m_fragments.push_back(fragment);
    return fragment.record.id;
}

std::uint16_t MemoryContent::addScenario(std::uint16_t gongId, std::uint16_t messageId, std::uint16_t period,
                                         const std::wstring& title) {
    checkTitle(title);
    if (fragmentPosition(messageId) == kNone || (gongId != kNone && fragmentPosition(gongId) == kNone))
        throw exception::IncorrectFormat(L"Фрагмент не найден");
    if (m_scenarios.size() >= m_limits.maxScenarios)
        throw exception::UserError(L"Достигнуто наибольшее число сценариев", L"");
    if (kScenarioRecordSize > freeSize()) throw exception::UserError(L"Недостаточно свободной аудио памяти", L"");
    ScenarioInfo scenario;
    scenario.id = lowestUnusedId<ScenarioInfo>(
        m_scenarios, [](const ScenarioInfo& s) { return s.id; }, kLastScenarioId);
    scenario.title = title;
    scenario.gongId = gongId;
    scenario.messageId = messageId;
    scenario.period = period;
    m_scenarios.push_back(scenario);
    renumberScenarios();
    return scenario.id;
}

bool MemoryContent::removeFragment(std::uint16_t id) {
    const std::uint16_t position = fragmentPosition(id);
    if (position == kNone) return false;
    m_fragments.erase(m_fragments.begin() + (position - 1));
    m_scenarios.erase(std::remove_if(m_scenarios.begin(), m_scenarios.end(),
                                     [id](const ScenarioInfo& s) { return s.messageId == id || s.gongId == id; }),
                      m_scenarios.end());
    renumberScenarios();
    return true;
}

bool MemoryContent::removeScenario(std::uint16_t id) {
    const std::uint16_t position = scenarioPosition(id);
    if (position == kNone) return false;
    m_scenarios.erase(m_scenarios.begin() + (position - 1));
    renumberScenarios();
    return true;
}

void MemoryContent::clear() {
    m_fragments.clear();
    m_scenarios.clear();
}

void MemoryContent::renumberScenarios() {
    for (std::size_t i = 0; i < m_scenarios.size(); ++i) m_scenarios[i].number = static_cast<std::uint16_t>(i + 1);
}

void MemoryContent::supplyData(std::uint32_t deviceOffset, std::uint32_t crc,
                               const std::shared_ptr<const std::string>& data) {
    for (auto& fragment : m_fragments)
        if (!fragment.data && fragment.record.offset == deviceOffset && fragment.record.crc == crc)
            fragment.data = data;
}

bool MemoryContent::holdsAllData() const {
    return std::all_of(m_fragments.begin(), m_fragments.end(), [](const Fragment& f) { return bool(f.data); });
}

std::string MemoryContent::catalogue() const { return encodeCatalogue(m_limits.layout, records(), m_scenarios); }

std::string MemoryContent::image() const {
    std::vector<std::shared_ptr<const std::string>> data;
    for (const auto& fragment : m_fragments) {
        if (!fragment.data) throw exception::InternalError(L"fragment data not read");
        data.push_back(fragment.data);
    }
    return encodeImage(m_limits.layout, records(), m_scenarios, data);
}

std::string MemoryContent::stamp() const {
    return (boost::format("%u:%u:%u:%08X") % m_limits.layout % m_fragments.size() % m_scenarios.size() %
            memoryCrc(catalogue()))
        .str();
}

void MemoryContent::markWritten() {
    std::uint32_t offset = static_cast<std::uint32_t>(kRootSize + kFragmentRecordSize * m_fragments.size() +
                                                      kScenarioRecordSize * m_scenarios.size());
    for (auto& fragment : m_fragments) {
        fragment.record.offset = offset;
        offset += fragment.record.size;
    }
}

}  // namespace device::memory

#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <boost/shared_ptr.hpp>

namespace device {

/// A loudspeaker's tone equalizer in the form of its firmware generation.
/// Two equalizers compare by the request text that sets them; the enabled
/// flag of the six-band form is not in that text (the loudspeaker switches it
/// with a request of its own), so callers that must see a change of the
/// flag alone compare it as well.
class IEqualizer {
public:
    virtual ~IEqualizer() = default;
    virtual bool setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    /// The narrow request text that sets this equalizer.
    virtual std::string toCommand() const = 0;
    virtual boost::shared_ptr<IEqualizer> clone() const = 0;
    bool isLess(const IEqualizer& other) const { return toCommand() < other.toCommand(); }
    bool isEqual(const IEqualizer& other) const { return toCommand() == other.toCommand(); }
    bool isNotEqual(const IEqualizer& other) const { return !isEqual(other); }
};

namespace o510 {

/// The packed form of the Orvel-510 firmware (index below 9): four 4-bit
/// fields of one 16-bit value; a disabled equalizer is sent as 0. The panel's
/// bass and treble sliders set fields 1 and 3.
class Equalizer : public IEqualizer {
public:
    /// Field 0 = 15, field 1 = `bass` (0..15), field 2 = 2, field 3 = `treble`
    /// as a 4-bit two's complement number (8..15 are -8..-1), clamped to -8..7.
    Equalizer(int bass, int treble);
    /// From the value "get eq" reports; enabled unless it is 0.
    explicit Equalizer(std::uint16_t packed);

    bool setEnabled(bool enabled) override { return m_enabled = enabled; }
    bool isEnabled() const override { return m_enabled; }
    /// "set eq XXXX", four upper-case hexadecimal digits.
    std::string toCommand() const override;
    boost::shared_ptr<IEqualizer> clone() const override;

    /// Field 0..3; field 3 is signed.
    int getField(unsigned index) const { return index < m_fields.size() ? m_fields[index] : 0; }
    std::uint16_t packed() const;

private:
    std::array<int, 4> m_fields{};
    bool m_enabled = true;
};

}  // namespace o510

namespace o610 {

/// The six-band form (index 9 and above): each band an attenuation of
/// -10..0, and a separate on/off switch. Index 9 to 13 take the extended
/// request ("set eqd" with ten values, the last four zero, bands at least -6).
class Equalizer : public IEqualizer {
public:
    static constexpr int kBands = 6;
    static constexpr int kMinimum = -10;
    static constexpr int kMaximum = 0;
    static constexpr int kExtendedMinimum = -6;

    Equalizer(bool enabled, bool extended) : m_enabled(enabled), m_extended(extended) {}

    bool setEnabled(bool enabled) override { return m_enabled = enabled; }
    bool isEnabled() const override { return m_enabled; }
    /// "set eqd b0:b1:b2:b3:b4:b5", extended: bands raised to -6 and ":0:0:0:0"
    /// after them.
    std::string toCommand() const override;
    boost::shared_ptr<IEqualizer> clone() const override;

    /// An index outside 0..5 is logged and ignored; the value is corrected.
    void setBands(int index, int value);
    int getBand(int index) const { return index >= 0 && index < kBands ? m_bands[index] : 0; }
    bool isExtended() const { return m_extended; }
    /// Out-of-range values are logged and brought to the nearest limit.
    static int correctValue(int value);

private:
    std::array<std::int8_t, kBands> m_bands{};
    bool m_enabled;
    bool m_extended;
};

}  // namespace o610

/// The text of the extended request carries its four extra zero fields once:
/// they are appended only when the text doesn't end with them already.
std::string withExtendedTail(const std::string& command);

/// Reply parsers of "get eq" (packed form) and "get eqd" (six bands);
/// malformed replies throw exception::UnexpectedResponseOfDevice.
std::uint16_t parsePackedEqualizer(const std::string& reply);
void parseEqualizerBands(const std::string& reply, o610::Equalizer& equalizer);

}  // namespace device

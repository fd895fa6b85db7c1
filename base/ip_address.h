#pragma once

#include <cstdint>
#include <string>

// IPv4 addresses and endpoints as the whole program passes them around. Bad
// text never throws: the object comes out invalid with the text "0.0.0.0"
// and one WARN names the rejected input. Plain values, copied between threads.
namespace net {

/// Reads "a.b.c.d" or "a.b.c.d:port" (blanks before a number are skipped,
/// anything after the last number read is ignored). Address and port may be
/// null. With a port pointer, a text without a port returns false after the
/// address has been stored. A part above 255 or a port above 65535 returns
/// false and stores nothing.
bool parseIp4AndPort(const std::string& text, std::uint32_t* address, std::uint16_t* port);

/// True when the text begins with four dotted parts, each at most 255.
bool isIp4AddressText(const std::string& text);

/// True when the whole text is one address as the system's own readers take
/// it (inet_pton): four decimal parts from 0 to 255 joined by dots, without
/// a leading zero ("0" alone is a part), with nothing before, between or
/// after them: no blank, sign, port, fifth part or letter. Stores the
/// address when `address` is given and the text is one. For texts that must
/// be an address and nothing else (our files, the settings, what is sent to
/// a device); the readers above take what devices send.
bool parseWholeIp4Address(const std::string& text, std::uint32_t* address = nullptr);

/// The same whole-text rule for a device's own address settings, except
/// that a part may have leading zeros ("192.168.001.010"): a record read
/// back from a device may carry them, and an Apply must not be refused for
/// what the device itself reported. Nothing may follow the fourth part.
bool isWholeDeviceAddressText(const std::string& text);

/// The whole-text rule for an address read back from what the program
/// stored (the settings file, the state files), except that a part may have
/// leading zeros, as many as it likes, read as decimal: "010" is ten, not
/// eight as inet_aton would take it. Earlier versions of the program took
/// such texts from the operator and from devices and stored them as they
/// were. Stores the address when `address` is given and the text is one.
bool parseStoredIp4Address(const std::string& text, std::uint32_t* address = nullptr);

/// "a.b.c.d" of an address, its first part in the most significant byte.
std::string dottedIp4Address(std::uint32_t address);

/// Splits "address[:port]" at the first colon. False, with nothing stored,
/// when the text doesn't begin with an address or the port after the colon
/// isn't a decimal number up to 65535. Without a colon the address text is
/// the whole text and the port is left as it was. Either pointer may be null.
bool splitIpAndPort(const std::string& text, std::string* addressText, std::uint16_t* port);

class Ip4Address {
public:
    /// "0.0.0.0" itself is the empty address: invalid, without a warning.
    /// A valid text is kept as written, a port after a colon included.
    explicit Ip4Address(const std::string& text);
    virtual ~Ip4Address() = default;
    Ip4Address(const Ip4Address&) = default;
    Ip4Address& operator=(const Ip4Address&) = default;

    bool isValid() const { return m_valid; }
    /// The first part of the text in the most significant byte.
    std::uint32_t getAddress() const { return m_address; }
    const char* getText() const { return m_text.c_str(); }

protected:
    Ip4Address() = default;

    bool m_valid = false;
    std::uint32_t m_address = 0;
    std::string m_text = "0.0.0.0";
};

/// An address with a UDP port and its ready-made wide text "a.b.c.d:port"
/// for messages and lists.
class IpAndPort : public Ip4Address {
public:
    IpAndPort();
    IpAndPort(const std::string& addressText, std::uint16_t port);
    IpAndPort(const IpAndPort&) = default;
    IpAndPort& operator=(const IpAndPort&) = default;

    /// Rebuilds the wide text from the address text and the port; an invalid
    /// address shows as "0.0.0.0".
    void toString();

    /// The address is valid and the port is not 0.
    bool isValid() const { return m_valid && m_port != 0; }
    std::uint16_t getPort() const { return m_port; }
    const std::wstring& getWideText() const { return m_wideText; }

    /// Endpoints order by address number, then port; texts and validity take
    /// no part.
    friend bool operator<(const IpAndPort& a, const IpAndPort& b) {
        return a.m_address != b.m_address ? a.m_address < b.m_address : a.m_port < b.m_port;
    }
    friend bool operator==(const IpAndPort& a, const IpAndPort& b) {
        return a.m_address == b.m_address && a.m_port == b.m_port;
    }
    friend bool operator!=(const IpAndPort& a, const IpAndPort& b) { return !(a == b); }

private:
    std::uint16_t m_port = 0;
    std::wstring m_wideText;
};

}  // namespace net

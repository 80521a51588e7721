#pragma once
// Private to the platform layer: the telnet framing that a serial port server
// speaks (the COM port option). The decoder splits the byte stream from the
// server into data bytes (IAC IAC undone) and events (option negotiation,
// COM port sub-negotiations); the encoders double IAC in data and frame the
// commands. Pure code, so that every byte value is tested without a server.

#include <cstdint>
#include <span>
#include <vector>

namespace ostrel::platform::telnet {

inline constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                              kSe = 240;
inline constexpr std::uint8_t kBinary = 0, kEcho = 1, kSuppressGoAhead = 3, kComPort = 44;

// COM port option commands as the client sends them; the server answers
// with the same number plus kServerOffset.
enum ComPortCommand : std::uint8_t {
    kSignature = 0,
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
    kNotifyLineState = 6,
    kNotifyModemState = 7,
    kFlowControlSuspend = 8,
    kFlowControlResume = 9,
    kSetLineStateMask = 10,
    kSetModemStateMask = 11,
    kPurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

struct Event {
    enum class Kind { Negotiation, ComPort };
    Kind kind = Kind::Negotiation;
    std::uint8_t verb = 0;            // Negotiation: kWill, kWont, kDo or kDont
    std::uint8_t option = 0;          // Negotiation: the option
    std::uint8_t command = 0;         // ComPort: the command as sent (server numbers >= 100)
    std::vector<std::uint8_t> value;  // ComPort: the bytes after the command, IAC IAC undone
};

class Decoder {
public:
    // Appends the data bytes of `in` to `data` and its events to `events`;
    // a sequence split across calls is carried over.
    void decode(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& data,
                std::vector<Event>& events);
    void reset() { *this = Decoder{}; }

private:
    enum class State { Data, Iac, Verb, SbOption, Sb, SbIac };
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    std::uint8_t sbOption_ = 0;
    std::vector<std::uint8_t> sb_;
};

// Appends `data` to `out` with every 0xFF doubled.
void appendEscaped(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out);
// Appends IAC verb option.
void appendNegotiation(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& out);
// Appends IAC SB COM-PORT command value IAC SE (0xFF in value doubled).
void appendComPort(std::uint8_t command, std::span<const std::uint8_t> value, std::vector<std::uint8_t>& out);

}  // namespace ostrel::platform::telnet

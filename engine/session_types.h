#pragma once
// The shared session types: operating modes, one side's line settings, the
// session configuration, display formats and send targets, and the tables
// that turn list and combo positions into line settings.

#include <array>
#include <cstdint>

namespace ostrel::engine {

// OperatingMode values.
using OperatingMode = std::int32_t;
inline constexpr OperatingMode kDteEmulation = 0;
inline constexpr OperatingMode kDceEmulation = 1;
inline constexpr OperatingMode kIntercede = 2;
inline constexpr OperatingMode kHalfDuplex = 3;
inline constexpr OperatingMode kFullDuplex = 4;

// Half Duplex and Full Duplex only listen: nothing is sent and flow control is off.
constexpr bool ListensOnly(OperatingMode mode) {
    return mode == kHalfDuplex || mode == kFullDuplex;
}

// Side index: indexes the channels and is the value of SendTarget.
inline constexpr int kDteSide = 0;
inline constexpr int kDceSide = 1;
inline constexpr std::int32_t kNoSide = 2;  // PortSettings::side: this side has no port

// Whether OpenSession opens `side` in `mode`: the emulations and Half Duplex
// one side, Intercede and Full Duplex both.
constexpr bool ModeUsesSide(OperatingMode mode, int side) {
    switch (mode) {
        case kDteEmulation:
        case kHalfDuplex:
            return side == kDteSide;
        case kDceEmulation:
            return side == kDceSide;
        default:
            return true;
    }
}

// DisplayFormat values.
using DisplayFormat = std::int32_t;
inline constexpr DisplayFormat kDisplayNone = 0;
inline constexpr DisplayFormat kDisplayHex = 1;
inline constexpr DisplayFormat kDisplayAscii = 2;
inline constexpr DisplayFormat kDisplayOff = 3;

// How a traffic line's time stamp looks: "[14:03:07:123]" (the default),
// with the date "[2026-12-09 14:03:07:123]", or in microseconds
// "[14:03:07:123456]".
enum class StampFormat : std::uint8_t { Time, Date, Micros };

// SendTarget values.
using SendTarget = std::int32_t;
inline constexpr SendTarget kToDte = 0;
inline constexpr SendTarget kToDce = 1;

// Parity codes, stop-bit codes and flow-control values as the port takes them.
inline constexpr std::uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3,
                              kSpaceParity = 4;
inline constexpr std::uint8_t kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;
inline constexpr std::uint8_t kFlowNone = 0, kFlowHardware = 1, kFlowXonXoff = 2;

struct PortSettings {
    std::int32_t side = kNoSide;
    std::uint8_t portNumber = 0;
    std::uint32_t baudRate = 9600;
    std::uint8_t dataBits = 8;
    std::uint8_t parity = kNoParity;
    std::uint8_t stopBits = kOneStopBit;
    std::uint8_t flowControl = kFlowNone;
};

struct SessionConfig {
    OperatingMode mode = kDteEmulation;
    PortSettings dte;
    PortSettings dce;
};

// A session as Open COM fills it: both sides with the same line settings and
// their ports, and no flow control in the modes that only listen.
constexpr SessionConfig MakeSessionConfig(OperatingMode mode, PortSettings line, std::uint8_t dtePort,
                                          std::uint8_t dcePort) {
    if (ListensOnly(mode)) line.flowControl = kFlowNone;
    SessionConfig config{mode, line, line};
    config.dte.side = kDteSide;
    config.dte.portNumber = dtePort;
    config.dce.side = kDceSide;
    config.dce.portNumber = dcePort;
    return config;
}

// Settings tables: position in the list or combo box to the value stored.
// The baud table has two entries more than the list offers.
inline constexpr std::array<std::uint32_t, 7> kBaudRateTable{9600,   19200,  38400, 57600,
                                                             115200, 128000, 256000};
inline constexpr std::array<std::uint8_t, 5> kParityTable{kNoParity, kEvenParity, kOddParity, kMarkParity,
                                                          kSpaceParity};
inline constexpr std::array<std::uint8_t, 2> kDataBitsTable{8, 7};
inline constexpr std::array<std::uint8_t, 3> kStopBitsTable{kOneStopBit, kOne5StopBits, kTwoStopBits};
inline constexpr std::array<std::uint8_t, 3> kFlowControlTable{kFlowNone, kFlowHardware, kFlowXonXoff};

// Status codes of the engine's operations.
inline constexpr std::int32_t kStatusOk = 0;
inline constexpr std::int32_t kStatusFailed = 1;
inline constexpr std::int32_t kStatusNotReady = 2;

}  // namespace ostrel::engine

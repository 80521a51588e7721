#pragma once
// The texts that the engine and the commands put into the traffic window.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/session_types.h"

namespace ostrel::engine::text {

inline constexpr std::string_view kPortOn = "\r\n*** Port is ON  ***\r\n";
inline constexpr std::string_view kPortOff = "\r\n*** Port is OFF ***\r\n";
inline constexpr std::string_view kOpenError = "\r\n*** Error opening COM Port !!! ***\r\n";
inline constexpr std::string_view kCheckSettings = "\r\n*** Check Port Settings !!! ***\r\n";
inline constexpr std::string_view kOutOfMemory = "\r\n*** Out of memory: session closed ***\r\n";
inline constexpr std::string_view kLineStatusError = "\r\nReceived Comport Line Status ERROR\r\n";

// Direction markers of received chunks, by mode and side, and of sent data.
inline constexpr std::string_view kFromDteMarker = " DTE ->> ";
inline constexpr std::string_view kFromDceMarker = " DCE ->> ";
inline constexpr std::string_view kToDteMarker = " DTE <<- ";
inline constexpr std::string_view kToDceMarker = " DCE <<- ";

// "\r\n*** <what> ***\r\n": the frame of every status line.
std::string statusLine(std::string_view what);
// "\r\n*** COMn disconnected ***\r\n"
std::string disconnected(int portNumber);
// "\r\n*** COMn: N bytes not delivered ***\r\n"
std::string notDelivered(int portNumber, std::uint64_t count);
// "\r\n*** COMn: <what> ***\r\n", for a setting that could not be applied.
std::string settingNote(int portNumber, std::string_view what);

// A port's rate and frame in the usual short form: "9600 8N1", "19200 7E1.5".
std::string frameText(const PortSettings& settings);

}  // namespace ostrel::engine::text

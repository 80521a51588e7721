#pragma once
// The send command's core: parse the text (as hexadecimal digit pairs in HEX,
// as typed otherwise), echo it as a time-stamped line with the " DTE <<- " or
// " DCE <<- " marker, set both output flags, and write it to the chosen side.

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "engine/window_link.h"

namespace ostrel::presentation {

// Digits are taken in pairs from the start of the text; every other character
// is skipped; a lone last high half counts with a zero low half.
std::vector<std::uint8_t> ParseHexText(std::string_view text);

// Runs one send of `text`. The echo's pieces are appended to `window` as one
// piece of text, so received traffic cannot fall between them. When the write
// cannot be made a status line follows the echo, for example
// "\r\n*** Send failed: COM3 is not open ***\r\n". Returns the bytes sent.
// `ending` (a line end such as "\r") follows the parsed text as it is.
std::vector<std::uint8_t> OnSendText(std::string_view text, engine::Engine& engine,
                                     engine::TrafficPresenter& presenter, engine::WindowLink& window,
                                     std::string_view ending = {});
// The same for bytes that are sent as they are, whatever the display format
// (keys typed with --interactive).
std::vector<std::uint8_t> OnSendBytes(std::vector<std::uint8_t> bytes, engine::Engine& engine,
                                      engine::TrafficPresenter& presenter, engine::WindowLink& window);

}  // namespace ostrel::presentation

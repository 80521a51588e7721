#pragma once
// Standard input of --send-stdin, cut into the lines that are sent.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::headless {

// Cuts a byte stream into lines at '\n'. The '\n' is not part of a line; a
// '\r' before it is kept (it is data the operator may mean to send). A line
// longer than kMaxPiece comes in pieces of kMaxPiece bytes (the last one
// shorter), so that what is held never grows with the input.
class LineSplitter {
public:
    static constexpr std::size_t kMaxPiece = 64 * 1024;

    // `ended`, when given, gets one entry per line: false for a piece of a
    // longer line, true for a line that its '\n' ended.
    std::vector<std::string> feed(std::string_view bytes, std::vector<bool>* ended = nullptr);
    // At the end of input: the last line when it had no '\n'.
    std::optional<std::string> finish();

private:
    std::string partial_;
};

}  // namespace ostrel::headless

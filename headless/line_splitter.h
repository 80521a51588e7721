#pragma once
// Standard input of --send-stdin, cut into the lines that are sent.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::headless {

// Cuts a byte stream into lines at '\n'. The '\n' is not part of a line; a
// '\r' before it is kept (it is data the operator may mean to send).
class LineSplitter {
public:
    std::vector<std::string> feed(std::string_view bytes);
    // At the end of input: the last line when it had no '\n'.
    std::optional<std::string> finish();

private:
    std::string partial_;
};

}  // namespace ostrel::headless

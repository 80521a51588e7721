#pragma once
// The far end of a port in the window tests: the master of a pseudo-terminal
// pair whose slave path is mapped as a COM port. The pair's own slave fd
// stays open, so the path stays valid between opens.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pty_pair.h"

namespace ostrel::ui::test {

using Bytes = std::vector<std::uint8_t>;

class FarEnd {
public:
    FarEnd();
    bool valid() const { return pair_.master.valid(); }
    const std::string& path() const { return pair_.slavePath; }
    // Writes everything; false when it could not within the deadline.
    bool write(std::string_view bytes, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Reads until `count` bytes came or the deadline passed; the GUI keeps
    // running meanwhile.
    Bytes read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Closes the master: the port's side of the line hangs up.
    void hangUp() { pair_.master.reset(); }

private:
    platform::PtyPair pair_;
};

std::string textOf(const Bytes& bytes);

}  // namespace ostrel::ui::test

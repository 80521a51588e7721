#pragma once
// Undoes the kernel's PARMRK escaping of received bytes: FF FF is a data byte
// FF, FF 00 X is byte X received with a framing or parity error (FF 00 00 a
// break). State is kept across calls, since a mark can span two reads.

#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel::platform {

class ParmrkDecoder {
public:
    struct Result {
        std::size_t count = 0;    // data bytes written to the output
        bool lineError = false;   // at least one error mark was seen
    };
    // Decodes `in` into `out` (out may be the same storage as in: the output
    // never runs ahead of the input). out.size() >= in.size() is required.
    Result decode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
    void reset() { state_ = State::Data; }

private:
    enum class State { Data, SawFF, SawFF00 };
    State state_ = State::Data;
};

}  // namespace ostrel::platform

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
        std::size_t count = 0;   // data bytes written to the output
        bool lineError = false;  // at least one error mark was seen
    };
    // Decodes `in` into `out` (out may be the same storage as in: the output
    // never runs ahead of the input). out.size() >= in.size() is required.
    // A lone FF followed by anything but FF or 00 (bytes received before
    // marking was on) is passed through as it came. If that FF ended the
    // previous call, passing it on needs one byte of room before `in` or
    // beyond in.size(); without it the FF is dropped and lineError is set.
    Result decode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
    void reset() { state_ = State::Data; }
    // True when the previous input ended in the first FF of a pair.
    bool pendingEscape() const { return state_ == State::SawFF; }

private:
    enum class State { Data, SawFF, SawFF00 };
    State state_ = State::Data;
};

}  // namespace ostrel::platform

#include "platform/parmrk_decoder.h"

#include <cstring>
#include <functional>

namespace ostrel::platform {

namespace {

// True when two output bytes may be written at out[0..1] after in[0] was read:
// out must have room beyond in.size() and must not overwrite input not yet read.
bool roomForExtraByte(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    if (out.size() <= in.size()) return false;
    const std::uint8_t* outBegin = out.data();
    const std::uint8_t* inBegin = in.data();
    const std::less<const std::uint8_t*> before;
    const bool disjoint = !before(outBegin, inBegin + in.size()) || !before(inBegin, outBegin + out.size());
    return disjoint || before(outBegin, inBegin);
}

}  // namespace

ParmrkDecoder::Result ParmrkDecoder::decode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    Result result;
    std::size_t n = 0;  // output index; never exceeds the input index + 1 (see the lone-FF case)
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (state_ == State::Data) {
            // Plain data up to the next FF moves as one block (not at all
            // when decoding in place and nothing was taken out before it).
            const std::uint8_t* const from = in.data() + i;
            const void* const mark = std::memchr(from, 0xFF, in.size() - i);
            const std::size_t run =
                mark ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(mark) - from)
                     : in.size() - i;
            if (run > 0 && out.data() + n != from) std::memmove(out.data() + n, from, run);
            n += run;
            i += run;
            if (i == in.size()) break;
        }
        const std::uint8_t byte = in[i];
        switch (state_) {
            case State::Data:
                if (byte == 0xFF) {
                    state_ = State::SawFF;
                } else {
                    out[n++] = byte;
                }
                break;
            case State::SawFF:
                if (byte == 0xFF) {
                    out[n++] = 0xFF;
                    state_ = State::Data;
                } else if (byte == 0x00) {
                    state_ = State::SawFF00;
                } else {
                    // A lone FF: the kernel never produces it with marking on,
                    // but bytes received before marking was switched on are
                    // not escaped. Pass both bytes on. When the FF ended the
                    // previous call and there is no spare room, the FF is lost
                    // and the byte is flagged instead of dropped silently.
                    state_ = State::Data;
                    if (i > 0 || roomForExtraByte(in, out)) {
                        out[n++] = 0xFF;
                    } else {
                        result.lineError = true;
                    }
                    out[n++] = byte;
                }
                break;
            case State::SawFF00:
                // FF 00 X: X arrived with a framing or parity error; X == 0 is a break.
                out[n++] = byte;
                result.lineError = true;
                state_ = State::Data;
                break;
        }
    }
    result.count = n;
    return result;
}

}  // namespace ostrel::platform

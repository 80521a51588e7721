// Fuzz target for the PARMRK decoder: a received byte stream cut into reads
// of sizes the input chooses, decoded the way the tty port reads (in place,
// one byte of room kept ahead while an FF is pending) or into a separate
// buffer with room to spare. Invariant: each read gives the same data bytes
// and the same error flag as a plain reference decoder of the whole stream.
//
// The reference: FF FF is data FF; FF 00 X is X with an error (0 a break); an
// FF followed by anything else (sent before marking was on) is passed on with
// that byte, except when the FF ended one read and the next read had room for
// one byte only: then the FF is lost and that read flags an error.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_input.h"
#include "platform/parmrk_decoder.h"

namespace {

using ostrel::fuzz::require;

class ReferenceDecoder {
public:
    struct Read {
        std::vector<std::uint8_t> data;
        bool error = false;
    };
    // `roomForLoneFF`: the FF pending from the previous read can be passed on.
    Read decode(std::span<const std::uint8_t> in, bool roomForLoneFF) {
        Read read;
        for (std::size_t i = 0; i < in.size(); ++i) {
            const std::uint8_t b = in[i];
            if (state_ == 0) {
                if (b == 0xFF) {
                    state_ = 1;
                } else {
                    read.data.push_back(b);
                }
            } else if (state_ == 1) {
                state_ = 0;
                if (b == 0xFF) {
                    read.data.push_back(0xFF);
                } else if (b == 0x00) {
                    state_ = 2;
                } else {
                    if (i > 0 || roomForLoneFF) {
                        read.data.push_back(0xFF);
                    } else {
                        read.error = true;
                    }
                    read.data.push_back(b);
                }
            } else {
                read.data.push_back(b);
                read.error = true;
                state_ = 0;
            }
        }
        return read;
    }
    bool pending() const { return state_ == 1; }

private:
    int state_ = 0;  // 0 data, 1 after FF, 2 after FF 00
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ostrel::fuzz::FuzzInput input(data, size);
    // The first byte picks the way of reading; then the read sizes and the
    // stream take turns.
    const bool inPlace = input.flag();
    ostrel::platform::ParmrkDecoder decoder;
    ReferenceDecoder reference;
    std::vector<std::uint8_t> buffer;
    while (!input.empty()) {
        const std::size_t readSize = 1 + input.below(64);  // the size of the read() buffer
        ReferenceDecoder::Read expected;
        ostrel::platform::ParmrkDecoder::Result got;
        if (inPlace) {
            // As TtyPort::read: the raw bytes go behind one byte of room when
            // an FF is pending and the buffer has more than one byte.
            const std::size_t offset = decoder.pendingEscape() && readSize > 1 ? 1 : 0;
            const std::span<const std::uint8_t> raw = input.take(readSize - offset);
            if (raw.empty()) break;
            buffer.assign(readSize, 0xEE);
            std::copy(raw.begin(), raw.end(), buffer.begin() + static_cast<std::ptrdiff_t>(offset));
            const std::span<std::uint8_t> out(buffer);
            got = decoder.decode(out.subspan(offset, raw.size()), out);
            expected = reference.decode(raw, readSize > 1);
        } else {
            const std::span<const std::uint8_t> raw = input.take(readSize);
            if (raw.empty()) break;
            buffer.assign(raw.size() + 1, 0xEE);
            got = decoder.decode(raw, buffer);
            expected = reference.decode(raw, true);
        }
        require(got.count == expected.data.size(), "data byte count differs from the reference");
        require(std::equal(expected.data.begin(), expected.data.end(), buffer.begin()),
                "data bytes differ from the reference");
        require(got.lineError == expected.error, "error flag differs from the reference");
        require(decoder.pendingEscape() == reference.pending(), "pending escape differs from the reference");
    }
    return 0;
}

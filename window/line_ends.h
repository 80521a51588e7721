#pragma once
// Turns each line break of the traffic text ("\r\n", a lone "\r", a lone
// "\n") into "\n", as other Linux programs expect text, over text that comes
// in pieces (a "\r" at the end of one piece may meet its "\n" in the next).
// Only "\r" changes anything, so the runs between them go out whole.

#include <cstddef>
#include <cstring>

namespace ostrel::window {

class LfLineEnds {
public:
    // Calls put(const char* data, std::size_t length) for each run of the
    // converted text.
    template <class Put>
    void feed(const char* data, std::size_t length, Put&& put) {
        static constexpr char kLf = '\n';
        const char* at = data;
        const char* end = data + length;
        if (afterCarriageReturn_ && at < end) {
            put(&kLf, 1);
            afterCarriageReturn_ = false;
            if (*at == '\n') ++at;
        }
        while (at < end) {
            const auto* carriageReturn =
                static_cast<const char*>(std::memchr(at, '\r', static_cast<std::size_t>(end - at)));
            if (!carriageReturn) {
                put(at, static_cast<std::size_t>(end - at));
                return;
            }
            if (carriageReturn > at) put(at, static_cast<std::size_t>(carriageReturn - at));
            at = carriageReturn + 1;
            if (at == end) {
                afterCarriageReturn_ = true;  // its "\n" may come with the next piece
                return;
            }
            put(&kLf, 1);
            if (*at == '\n') ++at;
        }
    }
    // At the end of the text: a "\r" still held becomes its "\n".
    template <class Put>
    void finish(Put&& put) {
        static constexpr char kLf = '\n';
        if (afterCarriageReturn_) put(&kLf, 1);
        afterCarriageReturn_ = false;
    }

private:
    bool afterCarriageReturn_ = false;
};

}  // namespace ostrel::window

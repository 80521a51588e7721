#pragma once
// Turns each line break of the traffic text ("\r\n", a lone "\r", a lone
// "\n") into "\n", as other Linux programs expect text, over text that comes
// in pieces (a "\r" at the end of one piece may meet its "\n" in the next).

#include <cstddef>

namespace ostrel::window {

class LfLineEnds {
public:
    // Calls put(char) for each byte of the converted text.
    template <class Put>
    void feed(const char* data, std::size_t length, Put&& put) {
        for (std::size_t i = 0; i < length; ++i) {
            const char byte = data[i];
            if (afterCarriageReturn_) {
                put('\n');
                afterCarriageReturn_ = false;
                if (byte == '\n') continue;
            }
            if (byte == '\r') {
                afterCarriageReturn_ = true;
                continue;
            }
            put(byte);
        }
    }
    // At the end of the text: a "\r" still held becomes its "\n".
    template <class Put>
    void finish(Put&& put) {
        if (afterCarriageReturn_) put('\n');
        afterCarriageReturn_ = false;
    }

private:
    bool afterCarriageReturn_ = false;
};

}  // namespace ostrel::window

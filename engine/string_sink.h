#pragma once
// A TextSink that gathers the appended pieces into one string, so that they
// can be handed on as a single append (no other text can fall between them).

#include <string>
#include <string_view>

#include "engine/window_link.h"

namespace ostrel::engine {

class StringSink : public TextSink {
public:
    void appendText(std::string_view text) override { text_.append(text); }
    const std::string& text() const { return text_; }
    bool empty() const { return text_.empty(); }
    // Empties the text but keeps its storage for the next use.
    void clear() { text_.clear(); }

private:
    std::string text_;
};

}  // namespace ostrel::engine

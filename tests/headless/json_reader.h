#pragma once
// A small strict JSON reader for tests that check what ostrel prints as JSON:
// the whole text must be one value (white space around it allowed); strings
// with the escapes \" \\ \/ \b \f \n \r \t and \u00XX.

#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel::headless::test {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    const JsonValue* member(std::string_view key) const {
        for (const auto& [name, value] : members)
            if (name == key) return &value;
        return nullptr;
    }
};

class JsonReader {
public:
    static std::optional<JsonValue> parse(std::string_view text) {
        JsonReader reader(text);
        JsonValue value;
        if (!reader.value(value)) return std::nullopt;
        reader.blanks();
        if (reader.at_ != text.size()) return std::nullopt;
        return value;
    }

private:
    explicit JsonReader(std::string_view text) : in_(text) {}

    void blanks() {
        while (at_ < in_.size() && std::isspace(static_cast<unsigned char>(in_[at_]))) ++at_;
    }
    bool word(std::string_view w) {
        if (in_.substr(at_, w.size()) != w) return false;
        at_ += w.size();
        return true;
    }
    bool string(std::string& out) {
        if (at_ >= in_.size() || in_[at_] != '"') return false;
        for (++at_; at_ < in_.size(); ++at_) {
            const char c = in_[at_];
            if (c == '"') {
                ++at_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (++at_ >= in_.size()) return false;
            const char e = in_[at_];
            const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
            if (const auto k = simple.find(e); k != std::string_view::npos) {
                out += meaning[k];
            } else if (e == 'u' && at_ + 4 < in_.size()) {
                const std::string hex(in_.substr(at_ + 1, 4));
                char* end = nullptr;
                const long code = std::strtol(hex.c_str(), &end, 16);
                if (end != hex.c_str() + 4 || code > 0x7f) return false;  // enough for these tests
                out += static_cast<char>(code);
                at_ += 4;
            } else {
                return false;
            }
        }
        return false;
    }
    bool value(JsonValue& v) {
        blanks();
        if (at_ >= in_.size()) return false;
        const char c = in_[at_];
        if (c == 'n') return word("null");
        if (c == 't' || c == 'f') {
            v.kind = JsonValue::Kind::Bool;
            v.boolean = c == 't';
            return word(c == 't' ? "true" : "false");
        }
        if (c == '"') {
            v.kind = JsonValue::Kind::String;
            return string(v.text);
        }
        if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
            const std::string rest(in_.substr(at_));
            char* end = nullptr;
            v.kind = JsonValue::Kind::Number;
            v.number = std::strtod(rest.c_str(), &end);
            at_ += static_cast<std::size_t>(end - rest.c_str());
            return true;
        }
        if (c == '[') {
            v.kind = JsonValue::Kind::Array;
            ++at_;
            blanks();
            if (word("]")) return true;
            do {
                v.items.emplace_back();
                if (!value(v.items.back())) return false;
                blanks();
            } while (word(","));
            return word("]");
        }
        if (c == '{') {
            v.kind = JsonValue::Kind::Object;
            ++at_;
            blanks();
            if (word("}")) return true;
            do {
                blanks();
                std::string key;
                if (!string(key)) return false;
                blanks();
                if (!word(":")) return false;
                JsonValue member;
                if (!value(member)) return false;
                v.members.emplace_back(std::move(key), std::move(member));
                blanks();
            } while (word(","));
            return word("}");
        }
        return false;
    }

    std::string_view in_;
    std::size_t at_ = 0;
};

}  // namespace ostrel::headless::test

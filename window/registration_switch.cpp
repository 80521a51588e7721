#include "window/registration_switch.h"

namespace ostrel::window {

namespace {

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// True when `text` starts with `word` (any case) and the word ends there.
bool startsWithWord(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (upper(text[i]) != upper(word[i])) return false;
    return text.size() == word.size() || text[word.size()] == ' ' || text[word.size()] == '\t';
}

}  // namespace

RegistrationSwitch ParseRegistrationSwitch(std::string_view commandLine) {
    std::size_t at = 0;
    while ((at = commandLine.find_first_of("-/", at)) != std::string_view::npos) {
        const std::string_view word = commandLine.substr(at + 1);
        if (startsWithWord(word, "UnregServer")) return RegistrationSwitch::Unregister;
        if (startsWithWord(word, "RegServer")) return RegistrationSwitch::Register;
        ++at;
    }
    return RegistrationSwitch::None;
}

std::string JoinCommandLine(int argc, const char* const argv[]) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) line += ' ';
        if (argv[i]) line += argv[i];
    }
    return line;
}

}  // namespace ostrel::window

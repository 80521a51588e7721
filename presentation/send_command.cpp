// One press of "Send": the echo line, the output flags and the write.

#include "presentation/send_command.h"

#include <string>
#include <utility>

#include "engine/session_types.h"
#include "engine/status_text.h"
#include "engine/string_sink.h"

namespace ostrel::presentation {

std::vector<std::uint8_t> OnSendText(std::string_view text, engine::Engine& engine,
                                     engine::TrafficPresenter& presenter, engine::WindowLink& window,
                                     std::string_view ending) {
    // The format decides the parsing here; the formatter reads it again for
    // the echo, and both reads agree because only this (UI) thread changes it.
    const bool hex = window.displayFormat() == engine::kDisplayHex;
    std::vector<std::uint8_t> bytes =
        hex ? ParseHexText(text) : std::vector<std::uint8_t>(text.begin(), text.end());
    bytes.insert(bytes.end(), ending.begin(), ending.end());
    return OnSendBytes(std::move(bytes), engine, presenter, window);
}

std::vector<std::uint8_t> OnSendBytes(std::vector<std::uint8_t> bytes, engine::Engine& engine,
                                      engine::TrafficPresenter& presenter, engine::WindowLink& window) {
    // The echo's pieces are gathered first and appended as one piece of text.
    engine::StringSink echo;
    presenter.BeginTrafficLine(echo);
    echo.appendText(window.sendTarget() == engine::kToDte ? engine::text::kToDteMarker
                                                          : engine::text::kToDceMarker);
    presenter.ShowTraffic(echo, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    window.appendText(echo.text());

    // The next chunk received from either side starts a line of its own.
    engine.SetOutputFlags();

    if (!bytes.empty()) {
        std::string failure;
        const std::int32_t taken = engine.WriteToSide(bytes, &failure);
        if (taken == 0 || !failure.empty()) {
            window.appendText(engine::text::statusLine(
                "Send failed: " +
                (failure.empty() ? std::string("the serial engine is not running") : failure)));
        }
    }
    return bytes;
}

}  // namespace ostrel::presentation

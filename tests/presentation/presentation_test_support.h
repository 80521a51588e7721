#pragma once
// Helpers shared by the presentation tests: a stand-in main window that
// records every appended piece in order (from any thread), with a display
// format and send target that the test sets; reading and writing files.

#include <atomic>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/window_link.h"
#include "platform/pty_test_support.h"
#include "platform/temp_dir.h"

namespace ostrel::presentation {

using platform::test::TempDir;
using platform::test::waitUntil;

class FakeWindow : public engine::WindowLink {
public:
    engine::OperatingMode mode() const override { return engine::kDteEmulation; }
    engine::DisplayFormat displayFormat() const override { return format_.load(); }
    engine::SendTarget sendTarget() const override { return target_.load(); }
    void postDataReady(int) override {}
    void postReceiveExit(const engine::ReceiveExitNotice&) override {}
    void appendText(std::string_view text) override {
        std::lock_guard lock(mutex_);
        pieces_.emplace_back(text);
    }

    void setFormat(engine::DisplayFormat format) { format_ = format; }
    void setTarget(engine::SendTarget target) { target_ = target; }

    std::vector<std::string> pieces() const {
        std::lock_guard lock(mutex_);
        return pieces_;
    }
    std::string text() const {
        std::lock_guard lock(mutex_);
        std::string all;
        for (const std::string& piece : pieces_) all += piece;
        return all;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        pieces_.clear();
    }

private:
    std::atomic<engine::DisplayFormat> format_{engine::kDisplayHex};
    std::atomic<engine::SendTarget> target_{engine::kToDte};
    mutable std::mutex mutex_;
    std::vector<std::string> pieces_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

inline std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

inline std::string asString(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace ostrel::presentation

#pragma once
// A stand-in main window for presentation tests: records every appended piece
// in order (from any thread), with a display format and send target that the
// test sets.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/window_link.h"

namespace ostrel::testing {

class FakeWindow : public engine::WindowLink {
public:
    engine::OperatingMode mode() const override { return mode_.load(); }
    engine::DisplayFormat displayFormat() const override { return format_.load(); }
    engine::SendTarget sendTarget() const override { return target_.load(); }
    void postDataReady(int) override {}
    void postReceiveExit(const engine::ReceiveExitNotice&) override {}
    void appendText(std::string_view text) override {
        std::lock_guard lock(mutex_);
        pieces_.emplace_back(text);
    }

    void setMode(engine::OperatingMode mode) { mode_ = mode; }
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
    std::atomic<engine::OperatingMode> mode_{engine::kDteEmulation};
    std::atomic<engine::DisplayFormat> format_{engine::kDisplayHex};
    std::atomic<engine::SendTarget> target_{engine::kToDte};
    mutable std::mutex mutex_;
    std::vector<std::string> pieces_;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ostrel-presentation-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    bool ok() const { return !path_.empty(); }
    std::string file(std::string_view name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

// Polls `condition` every few milliseconds until it holds or `limit` passes.
inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace ostrel::testing

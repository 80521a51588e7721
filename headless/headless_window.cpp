#include "headless/headless_window.h"

namespace ostrel::headless {

HeadlessWindow::HeadlessWindow(engine::DisplayQueue& display, engine::OperatingMode mode,
                               engine::DisplayFormat format, engine::SendTarget target)
    : display_(display), mode_(mode), format_(format), target_(target) {}

void HeadlessWindow::postDataReady(int) {
    if (engine::Engine* engine = engine_.load()) engine->SignalPump();
}

void HeadlessWindow::post(Notice notice) {
    {
        std::lock_guard lock(mutex_);
        notices_.push_back(std::move(notice));
    }
    wake_.signal();
}

std::vector<Notice> HeadlessWindow::takeNotices() {
    wake_.drain();  // before taking: a notice posted after this wakes the next poll
    std::lock_guard lock(mutex_);
    std::vector<Notice> taken(std::make_move_iterator(notices_.begin()),
                              std::make_move_iterator(notices_.end()));
    notices_.clear();
    return taken;
}

}  // namespace ostrel::headless

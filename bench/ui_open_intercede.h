#pragma once
// The window benches open their session as the operator does: Intercede
// through the mode window, HEX, Open COM.

#include <QTest>

#include "engine/engine.h"
#include "support/click_widget.h"
#include "ui/cmainwin.h"
#include "ui/cmodewin.h"
#include "window/control_ids.h"

namespace ostrel::bench {

// True when both sides are open in Intercede.
inline bool openIntercede(ui::Cmainwin& window, const engine::Engine& engine) {
    using ui::test::clickWidget;
    clickWidget(window.control(window::id::kModeButton));
    if (!QTest::qWaitFor([&] { return window.modeWindow() && window.modeWindow()->isVisible(); }))
        return false;
    clickWidget(window.modeWindow()->control(window::id::kIntercedeRadio));
    clickWidget(window.modeWindow()->control(window::id::kOk));
    clickWidget(window.control(window::id::kHex));
    clickWidget(window.control(window::id::kOpenClose));
    return window.mode() == engine::kIntercede && engine.isOpen(engine::kDteSide) &&
           engine.isOpen(engine::kDceSide);
}

}  // namespace ostrel::bench

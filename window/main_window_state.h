#pragma once
// The main window state record: the session fields that the commands, the
// mode and about windows, the engine and the presentation layer share.
//
// Threading: everything runs on the UI thread except the reads through the
// window link: the pump and the presentation layer read the mode, the display
// format and the send target from their own threads, so those three are
// atomics (one aligned 32-bit value each). The capture fields are guarded by
// the CaptureFile's own lock.
//
// Fields of the record that have no counterpart here, and what stands in their place:
//  - window handle: the Cmainwin widget itself; controls are reached by id through its skin.
//  - mode window and about window references: QPointers held by Cmainwin next to
//    this record (Qt objects stay out of this header); they read as empty before
//    a window exists and after it has gone, so a request is skipped safely.
//  - pump thread handle and id, pump event: owned by the Engine (a std::jthread
//    and a platform::Event), stopped and joined by Engine::ShutdownEngine().
//  - mode thread handle and id, about thread handle and id: none. Both windows
//    live on the GUI thread (Qt requires it) and are reached by queued calls;
//    a new Caboutbox is made for each opening, as each opening had its thread.

#include <atomic>

#include "engine/port_enumeration.h"
#include "engine/session_types.h"
#include "presentation/capture_file.h"

namespace ostrel::window {

struct MainWindowState {
    // True from a successful Open COM until Close COM, a hang-up or the
    // receive-exit notice of the session's own receive thread.
    bool portOpen = false;
    // Filled by Open COM right before OpenSession. Its mode member is copied
    // from `mode` at that moment; `mode` is the field the windows write.
    engine::SessionConfig config;
    std::atomic<engine::OperatingMode> mode{engine::kDteEmulation};
    // captureFile, captureActive and captureFileName.
    presentation::CaptureFile capture;
    std::atomic<engine::DisplayFormat> displayFormat{engine::kDisplayHex};
    std::atomic<engine::SendTarget> sendTarget{engine::kToDte};
    // True while the about window is open or opening.
    bool aboutOpen = false;
    // List position to COM number and the number of ports listed, filled by
    // the port enumeration at initialisation.
    int portCount = 0;
    engine::PortNumberTable portNumbers = [] {
        engine::PortNumberTable table;
        table.fill(1);
        return table;
    }();
};

}  // namespace ostrel::window

#pragma once
// A port's whole termios2 as it was found, so that closing the port can put
// it back (a console or a getty's line is not left raw). Opaque bytes: only
// termios2.cpp knows the kernel's struct, and no OS header is needed here.

namespace ostrel::platform::detail {

struct SavedTermios {
    alignas(8) unsigned char bytes[64] = {};
    bool valid = false;
};

}  // namespace ostrel::platform::detail

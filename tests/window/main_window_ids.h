#pragma once
// Every control of the main window that carries an id, as its template makes them.

namespace ostrel::window::test {

inline constexpr int kMainWindowIds[] = {201, 202, 203, 204, 205, 206, 207, 208, 209, 210,
                                         211, 212, 213, 214, 216, 217, 218, 219, 233, 234};

}  // namespace ostrel::window::test

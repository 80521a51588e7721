#pragma once
// Control ids of the three windows, as the dialog templates in resources/
// give them. The main window's ids are also the command ids of its buttons.

namespace ostrel::window::id {

// Main window (template 102).
inline constexpr int kTraffic = 201;     // traffic window
inline constexpr int kModeButton = 202;  // caption names the current mode
inline constexpr int kDteList = 203;
inline constexpr int kDceList = 204;
inline constexpr int kBaudList = 205;
inline constexpr int kParityCombo = 206;
inline constexpr int kDataBitsCombo = 207;
inline constexpr int kStopBitsCombo = 208;
inline constexpr int kFlowCombo = 209;
inline constexpr int kExit = 210;
inline constexpr int kOpenClose = 211;
inline constexpr int kSend = 212;
inline constexpr int kHex = 213;
inline constexpr int kAscii = 214;
inline constexpr int kDisplayNoneCommand = 215;  // a command only: no control carries it
inline constexpr int kSendData = 216;
inline constexpr int kToDte = 217;
inline constexpr int kToDce = 218;
inline constexpr int kCapture = 219;
inline constexpr int kPictureButton = 233;  // toggles the about window
inline constexpr int kOff = 234;

// Mode window (template 105) and about window (template 106).
inline constexpr int kOk = 1;      // "Close" in the mode window, "OK" in the about window
inline constexpr int kCancel = 2;  // no control carries it; the mode window treats it as kOk
inline constexpr int kDteEmulationRadio = 227;
inline constexpr int kDceEmulationRadio = 228;
inline constexpr int kIntercedeRadio = 229;
inline constexpr int kHalfDuplexRadio = 230;
inline constexpr int kFullDuplexRadio = 231;

// Pictures (resources/bitmap_<n>.svg).
inline constexpr int kPictureButtonBitmap = 206;
inline constexpr int kLogoBitmap = 207;

}  // namespace ostrel::window::id

#include "platform/line_notes.h"

namespace ostrel::platform::detail {

namespace {

const char* parityName(int code) {
    switch (code) {
        case 1:
            return "odd parity";
        case 2:
            return "even parity";
        case 3:
            return "mark parity";
        case 4:
            return "space parity";
        default:
            return "no parity";
    }
}

const char* stopBitsName(bool two) {
    return two ? "2 stop bits" : "1 stop bit";
}

}  // namespace

std::vector<std::string> lineSettingNotes(const LineSettings& requested, const LineReadBack& applied,
                                          bool rtsToggle) {
    std::vector<std::string> notes;
    const std::string using_ = ", using ";

    if (requested.baud == 0 || applied.baud != requested.baud) {
        notes.push_back("baud rate " + std::to_string(requested.baud) + " not accepted" + using_ +
                        std::to_string(applied.baud));
    }

    const bool dataBitsKnown = requested.dataBits == 7 || requested.dataBits == 8;
    if (applied.dataBits != requested.dataBits) {
        notes.push_back(std::to_string(requested.dataBits) + " data bits not " +
                        (dataBitsKnown ? "accepted" : "supported here") + using_ +
                        std::to_string(applied.dataBits));
    }

    if (applied.parity != requested.parity) {
        const std::string what =
            requested.parity <= 4 ? std::string(parityName(requested.parity)) + " not accepted"
                                  : "parity code " + std::to_string(requested.parity) + " not supported here";
        notes.push_back(what + using_ + parityName(applied.parity));
    }

    const bool wantTwo = requested.stopBits == 1 || requested.stopBits == 2;
    if (requested.stopBits == 1) {
        notes.push_back(std::string("1.5 stop bits not supported here, using ") +
                        (applied.twoStopBits ? "2" : "1"));
    } else if (applied.twoStopBits != wantTwo) {
        notes.push_back(std::string(stopBitsName(wantTwo)) + " not accepted" + using_ +
                        stopBitsName(applied.twoStopBits));
    }

    const bool wantRtsCts = requested.flow == 1;
    const bool wantXonXoff = requested.flow == 2;
    if (applied.rtsCts != wantRtsCts) {
        notes.push_back(wantRtsCts ? "RTS/CTS handshake not accepted"
                                   : "RTS/CTS handshake could not be switched off");
    }
    if (wantRtsCts && !rtsToggle) {
        notes.push_back(applied.rtsCts ? "RTS toggle not supported here, using RTS/CTS handshake"
                                       : "RTS toggle not supported here");
    }
    // Emulating it would need the DSR line sampled for every byte received.
    if (wantRtsCts) notes.push_back("DSR sensitivity not supported here");
    if (wantXonXoff && !(applied.xon && applied.xoff)) {
        notes.push_back("XON/XOFF flow control not accepted");
    } else if (!wantXonXoff && (applied.xon || applied.xoff)) {
        notes.push_back("XON/XOFF flow control could not be switched off");
    }
    return notes;
}

}  // namespace ostrel::platform::detail

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

const char* stopSizeName(int code) {
    switch (code) {
        case 1:
            return "1 stop bit";
        case 2:
            return "2 stop bits";
        case 3:
            return "1.5 stop bits";
        default:
            return "stop size code";
    }
}

const char* controlName(int code) {
    switch (code) {
        case 1:
            return "no flow control";
        case 2:
            return "XON/XOFF flow control";
        case 3:
            return "RTS/CTS handshake";
        default:
            return "flow control code";
    }
}

// A name for a reply code, with the code itself where it is not one of ours.
template <class Name>
std::string replyName(Name name, int code, int low, int high) {
    if (code >= low && code <= high) return name(code);
    return std::string(name(0)) + " " + std::to_string(code);
}

}  // namespace

ComPortSettings comPortRequest(const LineSettings& settings) {
    ComPortSettings request;
    request.baud = settings.baud;
    request.dataSize = settings.dataBits;
    request.parity = static_cast<std::uint8_t>(settings.parity <= 4 ? settings.parity + 1 : 1);
    request.stopSize = static_cast<std::uint8_t>(settings.stopBits == 1 ? 3 : settings.stopBits == 2 ? 2 : 1);
    request.control = static_cast<std::uint8_t>(settings.flow == 1 ? 3 : settings.flow == 2 ? 2 : 1);
    return request;
}

std::vector<std::string> comPortSettingNotes(const LineSettings& requested, const ComPortSettings& replies) {
    const ComPortSettings asked = comPortRequest(requested);
    std::vector<std::string> notes;
    const std::string unconfirmed = " not confirmed by the port server";
    const auto compare = [&](const std::optional<std::uint32_t>& reply, std::uint32_t wanted,
                             const std::string& what, const std::string& using_) {
        if (!reply) {
            notes.push_back(what + unconfirmed);
        } else if (*reply != wanted) {
            notes.push_back(what + " not accepted, using " + using_);
        }
    };
    const auto widen = [](const std::optional<std::uint8_t>& value) -> std::optional<std::uint32_t> {
        if (!value) return std::nullopt;
        return *value;
    };
    compare(replies.baud, *asked.baud, "baud rate " + std::to_string(requested.baud),
            std::to_string(replies.baud.value_or(0)));
    compare(widen(replies.dataSize), *asked.dataSize, std::to_string(requested.dataBits) + " data bits",
            std::to_string(replies.dataSize.value_or(0)));
    const auto parity = [](int code) { return code == 0 ? "parity code" : parityName(code - 1); };
    compare(widen(replies.parity), *asked.parity, parity(*asked.parity),
            replyName(parity, replies.parity.value_or(0), 1, 5));
    compare(widen(replies.stopSize), *asked.stopSize, stopSizeName(*asked.stopSize),
            replyName(stopSizeName, replies.stopSize.value_or(0), 1, 3));
    compare(widen(replies.control), *asked.control, controlName(*asked.control),
            replyName(controlName, replies.control.value_or(0), 1, 3));
    return notes;
}

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

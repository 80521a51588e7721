#include "demo/demo_script.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace ostrel::demo::demo {
namespace {

// The DTE's command cycle: set-up commands, the dial, and the hang-up after "+++".
constexpr std::array<std::string_view, 7> kCommands{"ATZ",    "AT",         "ATE0", "ATI",
                                                    "AT+CSQ", "ATD5551234", "ATH"};
constexpr std::size_t kDial = 5;
constexpr std::size_t kHangUp = 6;
constexpr int kMaxDialAttempts = 3;
constexpr std::size_t kMaxLine = 256;

void stuff(std::string& out, std::uint8_t byte) {
    if (byte == kFrameFlag || byte == kFrameEscape) {
        out += static_cast<char>(kFrameEscape);
        out += static_cast<char>(byte ^ 0x20);
    } else {
        out += static_cast<char>(byte);
    }
}

std::string upperTrimmed(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (!std::isspace(c)) out += static_cast<char>(std::toupper(c));
    }
    return out;
}

}  // namespace

std::string EncodeFrame(std::uint8_t seq, std::string_view payload) {
    std::string out(1, static_cast<char>(kFrameFlag));
    unsigned sum = seq + static_cast<std::uint8_t>(payload.size());
    stuff(out, seq);
    stuff(out, static_cast<std::uint8_t>(payload.size()));
    for (char c : payload) {
        sum += static_cast<std::uint8_t>(c);
        stuff(out, static_cast<std::uint8_t>(c));
    }
    stuff(out, static_cast<std::uint8_t>(~sum & 0xFF));
    out += static_cast<char>(kFrameFlag);
    return out;
}

bool DecodeFrame(std::string_view stuffed, std::uint8_t& seq, std::string& payload) {
    std::string raw;
    for (std::size_t i = 0; i < stuffed.size(); ++i) {
        auto byte = static_cast<std::uint8_t>(stuffed[i]);
        if (byte == kFrameFlag) return false;
        if (byte == kFrameEscape) {
            if (++i == stuffed.size()) return false;
            byte = static_cast<std::uint8_t>(stuffed[i]) ^ 0x20;
        }
        raw += static_cast<char>(byte);
    }
    if (raw.size() < 3) return false;
    const auto length = static_cast<std::uint8_t>(raw[1]);
    if (raw.size() != std::size_t{length} + 3) return false;
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < raw.size(); ++i) sum += static_cast<std::uint8_t>(raw[i]);
    if (static_cast<std::uint8_t>(~sum & 0xFF) != static_cast<std::uint8_t>(raw.back())) return false;
    seq = static_cast<std::uint8_t>(raw[0]);
    payload = raw.substr(2, length);
    return true;
}

// ---------------------------------------------------------------- the DTE

SimulatedDte::SimulatedDte(int paceMs, std::uint32_t seed) : pace_(std::max(paceMs, 1)), random_(seed) {}

Millis SimulatedDte::units(double n) {
    return std::llround(n * pace_);
}

Millis SimulatedDte::jittered(double n) {
    return units(n * std::uniform_real_distribution<double>(0.6, 1.4)(random_));
}

void SimulatedDte::send(Step& step, std::string text, Millis now) {
    received_.clear();  // what came before belongs to the previous exchange
    step.out += text;
    deadline_ = now + units(8);
}

void SimulatedDte::startPause(Millis now, double unitsToWait) {
    phase_ = Phase::Pause;
    nextAt_ = now + jittered(unitsToWait);
}

void SimulatedDte::receive(std::string_view bytes, Millis) {
    received_.append(bytes);
    if (received_.size() > 4 * kMaxLine) received_.erase(0, received_.size() - 4 * kMaxLine);
}

// Takes the first final result line (OK, ERROR, BUSY, NO CARRIER, CONNECT ...).
bool SimulatedDte::takeResult(std::string& result) {
    std::size_t start = 0;
    for (auto end = received_.find("\r\n"); end != std::string::npos; end = received_.find("\r\n", start)) {
        std::string line = received_.substr(start, end - start);
        start = end + 2;
        if (line == "OK" || line == "ERROR" || line == "BUSY" || line == "NO CARRIER" ||
            line.rfind("CONNECT", 0) == 0) {
            received_.erase(0, start);
            result = std::move(line);
            return true;
        }
    }
    return false;
}

// Takes one reply of the far end: a frame between two flags or a text line.
bool SimulatedDte::takeDataReply() {
    const auto flag = received_.find(static_cast<char>(kFrameFlag));
    if (flag != std::string::npos) {
        const auto close = received_.find(static_cast<char>(kFrameFlag), flag + 1);
        if (close == std::string::npos) return false;
        received_.erase(0, close + 1);
        return true;
    }
    const auto end = received_.find("\r\n");
    if (end == std::string::npos || end == 0) {
        if (end == 0) received_.erase(0, 2);
        return false;
    }
    received_.erase(0, end + 2);
    return true;
}

Step SimulatedDte::step(Millis now) {
    Step step{{}, now};
    std::string result;
    switch (phase_) {
        case Phase::Start:
            command_ = 0;
            dialAttempts_ = 0;
            phase_ = Phase::Command;
            nextAt_ = now + jittered(1);
            break;
        case Phase::Command:
            if (now >= nextAt_) {
                send(step, std::string(kCommands[command_]) + "\r", now);
                phase_ = Phase::AwaitResult;
            }
            break;
        case Phase::AwaitResult:
            if (takeResult(result)) {
                if (command_ == kHangUp) {
                    startPause(now, 6);
                } else if (command_ != kDial) {
                    ++command_;
                    phase_ = Phase::Command;
                    nextAt_ = now + jittered(1);
                } else if (result.rfind("CONNECT", 0) == 0) {
                    phase_ = Phase::Online;
                    exchangesLeft_ = std::uniform_int_distribution<int>(3, 6)(random_);
                    nextAt_ = now + jittered(1);
                } else if (++dialAttempts_ < kMaxDialAttempts) {
                    phase_ = Phase::Command;  // busy or no carrier: dial again a little later
                    nextAt_ = now + jittered(3);
                } else {
                    startPause(now, 6);
                }
            } else if (now >= deadline_) {
                startPause(now, 4);  // no answer: start over later
            }
            break;
        case Phase::Online:
            if (received_.find("NO CARRIER") != std::string::npos) {
                startPause(now, 6);  // the far end hung up between two exchanges
                break;
            }
            if (now < nextAt_) break;
            if (exchangesLeft_-- <= 0) {
                phase_ = Phase::Escape;
                nextAt_ = now + units(1);  // guard time of silence before "+++"
            } else if (std::uniform_int_distribution<int>(0, 3)(random_) == 0) {
                std::string payload(std::uniform_int_distribution<std::size_t>(4, 12)(random_), '\0');
                for (char& c : payload)
                    c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random_));
                send(step, EncodeFrame(frameSeq_++, payload), now);
                phase_ = Phase::AwaitData;
            } else {
                const int sensor = std::uniform_int_distribution<int>(1, 4)(random_);
                send(step,
                     "GET /sensor/" + std::to_string(sensor) + " #" + std::to_string(++requestNo_) + "\r\n",
                     now);
                phase_ = Phase::AwaitData;
            }
            break;
        case Phase::AwaitData:
            if (received_.find("NO CARRIER") != std::string::npos) {
                startPause(now, 6);  // the far end hung up
            } else if (takeDataReply() || now >= deadline_) {
                phase_ = Phase::Online;
                nextAt_ = now + jittered(1);
            }
            break;
        case Phase::Escape:
            if (now >= nextAt_) {
                send(step, "+++", now);
                phase_ = Phase::AwaitEscape;
            }
            break;
        case Phase::AwaitEscape:
            if (takeResult(result) || now >= deadline_) {
                command_ = kHangUp;
                phase_ = Phase::Command;
                nextAt_ = now + jittered(1);
            }
            break;
        case Phase::Pause:
            if (now >= nextAt_) phase_ = Phase::Start;
            break;
    }
    const bool waiting =
        phase_ == Phase::AwaitResult || phase_ == Phase::AwaitData || phase_ == Phase::AwaitEscape;
    step.wakeAt = phase_ == Phase::Start ? now : (waiting ? deadline_ : nextAt_);
    return step;
}

// ---------------------------------------------------------------- the DCE

SimulatedDce::SimulatedDce(int paceMs, std::uint32_t seed) : pace_(std::max(paceMs, 1)), random_(seed) {}

Millis SimulatedDce::units(double n) {
    return std::llround(n * pace_ * std::uniform_real_distribution<double>(0.7, 1.3)(random_));
}

void SimulatedDce::queue(std::string text, Millis at) {
    // Kept in time order; equal times keep the order in which they were queued.
    const auto pos = std::upper_bound(pending_.begin(), pending_.end(), at,
                                      [](Millis t, const Pending& p) { return t < p.at; });
    pending_.insert(pos, Pending{at, std::move(text)});
}

void SimulatedDce::receive(std::string_view bytes, Millis now) {
    lastByteAt_ = now;
    if (online_) {
        onlineBytes(bytes, now);
        return;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (echo_) queue(std::string(1, c), now);
        if (c == '\r') {
            commandLine(line_, now);
            line_.clear();
            if (online_) {  // a dial went through: the rest is data
                onlineBytes(bytes.substr(i + 1), now);
                return;
            }
        } else if (c != '\n' && line_.size() < kMaxLine) {
            line_ += c;
        }
    }
}

void SimulatedDce::commandLine(const std::string& line, Millis now) {
    const std::string command = upperTrimmed(line);
    if (command.rfind("AT", 0) != 0) return;  // not a command: a modem ignores it
    const std::string rest = command.substr(2);
    const Millis at = now + units(0.3);
    if (rest.empty()) {
        queue("\r\nOK\r\n", at);
    } else if (rest == "Z") {
        echo_ = true;
        queue("\r\nOK\r\n", at);
    } else if (rest == "E0" || rest == "E1" || rest == "E") {
        echo_ = rest != "E0";
        queue("\r\nOK\r\n", at);
    } else if (rest == "I" || rest == "I0") {
        queue("\r\nQuorvane Modem 56K\r\n\r\nOK\r\n", at);
    } else if (rest == "+CSQ") {
        queue("\r\n+CSQ: 21,99\r\n\r\nOK\r\n", at);
    } else if (rest[0] == 'D') {
        const int roll = std::uniform_int_distribution<int>(0, 99)(random_);
        const Millis answerAt = now + units(2.5);  // dialling and the handshake take a while
        if (roll < 70) {
            queue("\r\nCONNECT 9600\r\n", answerAt);
            online_ = true;
            data_.clear();
            inFrame_ = false;
        } else {
            queue(roll < 85 ? "\r\nBUSY\r\n" : "\r\nNO CARRIER\r\n", answerAt);
        }
    } else if (rest == "H" || rest == "H0") {
        queue("\r\nOK\r\n", at);
    } else {
        queue("\r\nERROR\r\n", at);
    }
}

void SimulatedDce::onlineBytes(std::string_view bytes, Millis now) {
    for (char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (inFrame_) {
            if (byte != kFrameFlag) {
                data_ += c;
                continue;
            }
            if (data_.empty()) continue;  // back-to-back flags
            std::uint8_t seq = 0;
            std::string payload;
            const bool good = DecodeFrame(data_, seq, payload);
            queue(EncodeFrame(seq, std::string(1, static_cast<char>(good ? kFrameAck : kFrameNak))),
                  now + units(0.4));
            data_.clear();
            inFrame_ = false;
        } else if (byte == kFrameFlag) {
            data_.clear();
            inFrame_ = true;
        } else {
            data_ += c;
            if (c == '\n') {
                dataLine(data_, now);
                data_.clear();
            } else if (data_.size() > kMaxLine) {
                data_.clear();
            }
        }
    }
    // "+++" alone, followed by a guard time of silence, returns to command mode.
    escapeCheckAt_ = (!inFrame_ && data_ == "+++") ? now + std::llround(0.5 * pace_) : -1;
}

void SimulatedDce::dataLine(const std::string& line, Millis now) {
    const Millis at = now + units(0.6);
    if (line.rfind("GET /sensor/", 0) == 0) {
        const int sensor = std::atoi(line.c_str() + 12);
        char reply[96];
        std::snprintf(reply, sizeof reply, "SENSOR %d T=%.1fC P=%dhPa H=%d%%\r\n", sensor,
                      std::uniform_real_distribution<double>(18.0, 26.0)(random_),
                      std::uniform_int_distribution<int>(995, 1030)(random_),
                      std::uniform_int_distribution<int>(30, 70)(random_));
        queue(reply, at);
    } else {
        queue("ERR unknown request\r\n", at);
    }
    // Now and then the far end goes away.
    if (std::uniform_int_distribution<int>(0, 11)(random_) == 0) {
        queue("\r\nNO CARRIER\r\n", at + units(1));
        online_ = false;
        data_.clear();
    }
}

Step SimulatedDce::step(Millis now) {
    Step step{{}, now + 10 * pace_};
    if (escapeCheckAt_ >= 0 && now >= escapeCheckAt_) {
        escapeCheckAt_ = -1;
        online_ = false;
        data_.clear();
        queue("\r\nOK\r\n", now);
    }
    auto due = pending_.begin();
    while (due != pending_.end() && due->at <= now) step.out += (due++)->text;
    pending_.erase(pending_.begin(), due);
    if (!pending_.empty()) step.wakeAt = std::min(step.wakeAt, pending_.front().at);
    if (escapeCheckAt_ >= 0) step.wakeAt = std::min(step.wakeAt, escapeCheckAt_);
    return step;
}

}  // namespace ostrel::demo::demo

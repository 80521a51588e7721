#pragma once
// The behaviour of the demo line's two simulated devices, without threads or
// file descriptors, so that it runs in virtual time in tests:
//
//  - the DTE (a terminal) resets and queries a modem (ATZ, AT, ATE0, ATI,
//    AT+CSQ), dials (ATD5551234), and while connected sends request lines and
//    now and then a binary frame (7E ... 7E, HDLC-style byte stuffing and a
//    checksum); then "+++", ATH, a pause, and again;
//  - the DCE (the modem) echoes commands until ATE0, answers them (OK,
//    "Quorvane Modem 56K", "+CSQ: 21,99", CONNECT 9600, BUSY, NO CARRIER),
//    and while connected answers for the far end: reply lines and ACK frames.
//
// All timing is in units of the pace (the typical gap between two lines), and
// all choices come from a seeded generator: the same seed and pace give the
// same conversation.

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::demo::demo {

using Millis = std::int64_t;

struct Step {
    std::string out;  // bytes to send now
    Millis wakeAt;    // when to call step() again at the latest
};

class DeviceScript {
public:
    virtual ~DeviceScript() = default;
    // Bytes that arrived from the line at `now`.
    virtual void receive(std::string_view bytes, Millis now) = 0;
    // The bytes due at `now`, and the time of the next planned action.
    virtual Step step(Millis now) = 0;
};

inline constexpr std::uint8_t kFrameFlag = 0x7E;
inline constexpr std::uint8_t kFrameEscape = 0x7D;
inline constexpr std::uint8_t kFrameAck = 0x06;
inline constexpr std::uint8_t kFrameNak = 0x15;

// 7E, then seq, length, payload and checksum (the complement of their sum),
// each 7E or 7D escaped as 7D followed by the byte XOR 0x20, then 7E.
std::string EncodeFrame(std::uint8_t seq, std::string_view payload);
// Decodes the bytes between two flags; false when malformed or the checksum is wrong.
bool DecodeFrame(std::string_view stuffed, std::uint8_t& seq, std::string& payload);

class SimulatedDte : public DeviceScript {
public:
    SimulatedDte(int paceMs, std::uint32_t seed);
    void receive(std::string_view bytes, Millis now) override;
    Step step(Millis now) override;

private:
    enum class Phase { Start, Command, AwaitResult, Online, AwaitData, Escape, AwaitEscape, Pause };
    Millis units(double n);
    Millis jittered(double n);
    void send(Step& step, std::string text, Millis now);
    void startPause(Millis now, double unitsToWait);
    bool takeResult(std::string& result);
    bool takeDataReply();

    const int pace_;
    std::mt19937 random_;
    Phase phase_ = Phase::Start;
    Millis nextAt_ = 0;
    Millis deadline_ = 0;
    std::size_t command_ = 0;
    int dialAttempts_ = 0;
    int exchangesLeft_ = 0;
    std::uint8_t frameSeq_ = 0;
    int requestNo_ = 0;
    std::string received_;
};

class SimulatedDce : public DeviceScript {
public:
    SimulatedDce(int paceMs, std::uint32_t seed);
    void receive(std::string_view bytes, Millis now) override;
    Step step(Millis now) override;

private:
    Millis units(double n);
    void queue(std::string text, Millis at);
    void commandLine(const std::string& line, Millis now);
    void onlineBytes(std::string_view bytes, Millis now);
    void dataLine(const std::string& line, Millis now);

    struct Pending {
        Millis at;
        std::string text;
    };
    const int pace_;
    std::mt19937 random_;
    bool echo_ = true;
    bool online_ = false;
    std::string line_;  // command line being typed
    std::string data_;  // online: bytes of the line or frame being received
    bool inFrame_ = false;
    Millis lastByteAt_ = 0;
    Millis escapeCheckAt_ = -1;     // when "+++" followed by silence turns into command mode
    std::vector<Pending> pending_;  // in time order
};

}  // namespace ostrel::demo::demo

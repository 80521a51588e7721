#include "platform/telnet_codec.h"

#include <algorithm>

namespace ostrel::platform::telnet {

namespace {
// Sub-negotiations longer than this are not COM port commands; the rest is dropped.
constexpr std::size_t kMaxSubnegotiation = 64;
}  // namespace

void Decoder::decode(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& data,
                     std::vector<Event>& events) {
    std::size_t i = 0;
    while (i < in.size()) {
        const std::uint8_t byte = in[i];
        switch (state_) {
            case State::Data: {
                // Plain runs are copied in one go.
                const auto from = in.begin() + static_cast<std::ptrdiff_t>(i);
                const auto iac = std::find(from, in.end(), kIac);
                data.insert(data.end(), from, iac);
                i = static_cast<std::size_t>(iac - in.begin());
                if (iac != in.end()) {
                    state_ = State::Iac;
                    ++i;
                }
                continue;
            }
            case State::Iac:
                if (byte == kIac) {
                    data.push_back(kIac);
                    state_ = State::Data;
                } else if (byte >= kWill) {
                    verb_ = byte;
                    state_ = State::Verb;
                } else if (byte == kSb) {
                    state_ = State::SbOption;
                } else {
                    state_ = State::Data;  // NOP, GA, DM and the like carry nothing here
                }
                break;
            case State::Verb:
                events.push_back(Event{Event::Kind::Negotiation, verb_, byte, 0, {}});
                state_ = State::Data;
                break;
            case State::SbOption:
                sbOption_ = byte;
                sb_.clear();
                state_ = State::Sb;
                break;
            case State::Sb:
                if (byte == kIac) {
                    state_ = State::SbIac;
                } else if (sb_.size() < kMaxSubnegotiation) {
                    sb_.push_back(byte);
                }
                break;
            case State::SbIac:
                if (byte == kIac) {
                    if (sb_.size() < kMaxSubnegotiation) sb_.push_back(kIac);
                    state_ = State::Sb;
                } else {
                    // IAC SE ends it; any other command after IAC ends it as well.
                    if (sbOption_ == kComPort && !sb_.empty()) {
                        events.push_back(Event{Event::Kind::ComPort, 0, kComPort, sb_.front(),
                                               std::vector<std::uint8_t>(sb_.begin() + 1, sb_.end())});
                    }
                    sb_.clear();
                    state_ = State::Data;
                }
                break;
        }
        ++i;
    }
}

void appendEscaped(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) {
    out.reserve(out.size() + data.size() + data.size() / 64 + 8);
    auto from = data.begin();
    while (from != data.end()) {
        const auto iac = std::find(from, data.end(), kIac);
        out.insert(out.end(), from, iac);
        if (iac == data.end()) break;
        out.push_back(kIac);
        out.push_back(kIac);
        from = iac + 1;
    }
}

void appendNegotiation(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& out) {
    out.insert(out.end(), {kIac, verb, option});
}

void appendComPort(std::uint8_t command, std::span<const std::uint8_t> value,
                   std::vector<std::uint8_t>& out) {
    out.insert(out.end(), {kIac, kSb, kComPort, command});
    appendEscaped(value, out);
    out.insert(out.end(), {kIac, kSe});
}

}  // namespace ostrel::platform::telnet

#include "frontend/port_choice.h"

#include "engine/status_text.h"
#include "platform/port_map.h"

namespace ostrel::frontend {

int PortChosenForBothSides(const engine::SessionConfig& config) {
    if (!engine::ModeUsesSide(config.mode, engine::kDteSide) ||
        !engine::ModeUsesSide(config.mode, engine::kDceSide))
        return 0;
    const auto number = [](int port) { return port == 0 ? 1 : port; };
    const int dte = number(config.dte.portNumber);
    return dte == number(config.dce.portNumber) ? dte : 0;
}

bool ApplyFallbackPorts(engine::SessionConfig& config, const platform::PortMap& ports,
                        const engine::PortNumberTable& table, std::size_t count) {
    for (engine::PortSettings* side : {&config.dte, &config.dce}) {
        if (side->portNumber != 0 || !engine::ModeUsesSide(config.mode, side->side)) continue;
        const int fallback = engine::FallbackPort(ports, table, count);
        if (fallback < 0) return false;
        side->portNumber = static_cast<std::uint8_t>(fallback);
    }
    return true;
}

std::string ChosenForBothSidesLine(int portNumber) {
    return engine::text::statusLine(platform::comName(portNumber) + ": chosen for both sides");
}

}  // namespace ostrel::frontend

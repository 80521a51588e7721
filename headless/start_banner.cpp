#include "headless/start_banner.h"

#include "engine/status_text.h"

namespace ostrel::headless {

std::string LineSettingsText(const engine::PortSettings& line) {
    const char* flow = line.flowControl == engine::kFlowHardware  ? "hardware"
                       : line.flowControl == engine::kFlowXonXoff ? "xonxoff"
                                                                  : "none";
    return engine::text::frameText(line) + ", flow " + flow;
}

std::string StartBanner(const engine::SessionConfig& config, const platform::PortMap& ports,
                        bool interactive) {
    std::string text;
    const struct {
        int side;
        const engine::PortSettings* line;
        const char* name;
    } sides[] = {{engine::kDteSide, &config.dte, "DTE side"}, {engine::kDceSide, &config.dce, "DCE side"}};
    for (const auto& side : sides) {
        if (!engine::ModeUsesSide(config.mode, side.side)) continue;
        // 0 is what the engine opens as COM1.
        const int number = side.line->portNumber == 0 ? 1 : side.line->portNumber;
        const platform::PortEntry* entry = ports.find(number);
        text += std::string("ostrel: ") + side.name + ": " + platform::comName(number);
        if (entry) text += " " + entry->path;
        text += ", " + LineSettingsText(*side.line) + "\n";
    }
    text += interactive ? "ostrel: Ctrl-X to stop\n" : "ostrel: Ctrl-C to stop\n";
    return text;
}

}  // namespace ostrel::headless

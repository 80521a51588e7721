#include "window/status_rows.h"

namespace ostrel::window {

std::vector<std::string> StatusRows(const std::vector<std::string>& parts, int width, int maxRows,
                                    const std::function<int(const std::string&)>& measure) {
    std::vector<std::string> rows;
    for (const std::string& part : parts) {
        if (rows.empty()) {
            rows.push_back(part);
            continue;
        }
        std::string joined = rows.back() + kStatusSeparator + part;
        const bool lastRow = static_cast<int>(rows.size()) >= maxRows;
        if (lastRow || measure(joined) <= width) {
            rows.back() = std::move(joined);
        } else {
            rows.push_back(part);
        }
    }
    return rows;
}

std::string StatusJoined(const std::vector<std::string>& parts) {
    std::string line;
    for (const std::string& part : parts) line += (line.empty() ? "" : kStatusSeparator) + part;
    return line;
}

}  // namespace ostrel::window

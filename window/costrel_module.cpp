#include "window/costrel_module.h"

namespace ostrel::window {

CostrelModule::CostrelModule(const std::string& commandLine)
    : registration_(ParseRegistrationSwitch(commandLine)) {}

RegistrationOutcome CostrelModule::RunSwitch(const std::string& entryDirectory,
                                             const std::string& executable) const {
    return HandleRegistrationSwitch(registration_, entryDirectory, executable);
}

}  // namespace ostrel::window

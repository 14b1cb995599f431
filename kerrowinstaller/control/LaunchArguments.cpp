#include "LaunchArguments.h"

std::string BuildLaunchArguments(const CInstallerState &state)
{
    std::string line;
    if (state.start == 1) {
        line += " -start " + std::to_string(1);
        line += " -lport " + std::to_string(state.listenPort);
        line += " -elport " + std::to_string(state.encoderListenPort);
        if (!state.onAirURL.empty())
            line += " -onairrul " + state.onAirURL;
        if (!state.offAirURL.empty())
            line += " -offairurl " + state.offAirURL;
        return line;
    }
    line += "-start " + std::to_string(2);
    if (!state.connectURL.empty())
        line += " -curl " + state.connectURL;
    line += " -cport " + std::to_string(state.connectPort);
    if (!state.connectEncodeURL.empty())
        line += " -ceurl " + state.connectEncodeURL;
    line += " -ceport " + std::to_string(state.connectEncoderPort);
    return line;
}

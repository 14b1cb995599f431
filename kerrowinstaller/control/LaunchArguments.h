#pragma once
// The command line the control gives Velmor.exe for its role, built from
// the control's properties right before a normal start:
//
//   broadcaster (Start 1): " -start 1 -lport L -elport E[ -onairrul U][ -offairurl U]"
//   viewer (any other):    "-start 2[ -curl H] -cport P[ -ceurl H] -ceport P"
//
// The broadcaster's line begins with a blank and its on-air option is
// spelled "-onairrul", as Velmor.exe reads it. Numbers are decimal; texts
// are written as they are (Velmor.exe splits at blanks, see LaunchPolicy.h).
// GlobalTag never appears.
#include "CInstallerState.h"

#include <string>

std::string BuildLaunchArguments(const CInstallerState &state);

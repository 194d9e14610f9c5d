// SPDX-License-Identifier: GPL-3.0-or-later
// --bridge's options, read into the bridge's settings.
#pragma once

#include <string>

#include "app/Options.h"
#include "bridge/BridgeMode.h"

namespace app {

// Reads the bridge's options. False with `error` set when they make no sense.
bool ReadBridgeSettings(const Options& options, bridge::Settings& settings, std::string& error);

}  // namespace app

// SPDX-License-Identifier: GPL-3.0-or-later
// The seven preset rates: each button's rate, and the slider range and position it sets.
#pragma once

#include <array>

#include "res/ResourceIds.h"

namespace panel {

struct RatePreset {
    int id;
    double rate;
    int sliderMinimum;
    int sliderMaximum;
    int sliderPosition;  // hundredths of a baud
};

inline constexpr std::array<RatePreset, 7> kRatePresets{{
    {res::IDC_RATE_45_45, 45.45, 4000, 5000, 4545},
    {res::IDC_RATE_50_0, 50.0, 4545, 5690, 5000},
    {res::IDC_RATE_56_9, 56.9, 4545, 7420, 5690},
    {res::IDC_RATE_74_2, 74.2, 5690, 10000, 7420},
    {res::IDC_RATE_100_0, 100.0, 7420, 11000, 10000},
    {res::IDC_RATE_110_0, 110.0, 10000, 13000, 11000},
    {res::IDC_RATE_300_0, 300.0, 28000, 32000, 30000},
}};

// A step button moves the slider by a tenth of a baud.
inline constexpr int kStepPositions = 10;

}  // namespace panel

#pragma once

#include "analog/analog_card.h"

#include <memory>

// The card of board `board`: the comedi device /dev/comedi<board> when it exists and opens,
// otherwise a simulated card (with a warning on the log when a device was there but failed).
std::unique_ptr<AnalogCard> createAnalogCard(int board);

#pragma once

#include "model/value_range.h"

namespace kestio::ui {

// The controls' ranges are the model's: a slot read from disk is kept within what they allow.
using ValueRange = kestio::ValueRange;

}  // namespace kestio::ui

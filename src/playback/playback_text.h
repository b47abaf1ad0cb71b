#pragma once

#include <optional>
#include <string>

namespace kestio {

// Text forms of the play log's lines.

// A number as the shortest text that reads back as the same double, with ".0" on whole
// numbers ("3.0", "12.5"); "nan", "inf" and "-inf" for the others.
std::string shortestDouble(double value);
// "(1920.0, 1080.0)".
std::string sizeText(double width, double height);
// The integer part of a percentage for the play line; a value that is not a finite number in
// the range of an int is written as shortestDouble gives it.
std::string wholePercent(double value);
// "BANK2 SLOT4" for bank 1, slot 3 (counted from 0).
std::string bankSlotText(int bank, int slot);

}  // namespace kestio

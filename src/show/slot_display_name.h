#pragma once

#include <string>

namespace kestio {

// The name of a slot as alerts and log lists show it: without a leading run of digits followed
// by underscores, hyphens or white space ("012_intro" shows as "intro"; "001" stays). Digits
// and white space are taken in the Unicode sense (full-width digits, the ideographic space).
std::string slotDisplayName(const std::string& name);

}  // namespace kestio

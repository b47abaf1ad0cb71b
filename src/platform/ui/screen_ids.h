#pragma once

#include <vector>

#include "platform/ui/screen_descriptor.h"

namespace kestio::platform {

// Gives each display of one listing (in the platform's order) its id.
//
// A display whose connector name no other display in the listing shares takes the hash of that
// name alone, so its id survives the others coming and going. Connector names are not always
// unique: an X server with several X screens names each of them "screen". The displays sharing
// a name are then told apart by what differs among them, in this order of preference: their
// serial numbers (when each has one and no two are alike), their places on the desktop (when
// no two are alike), else their order in the listing. Each takes the hash of its name together
// with that distinction, which does not depend on the listing's order except in the last case.
//
// Ids come out unique: should two hashes ever coincide, the later display's is rehashed.
void assignScreenIds(std::vector<ScreenDescriptor>& screens);

}  // namespace kestio::platform

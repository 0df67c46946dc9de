#pragma once

// The real network hub behind Client's NetLink.

#include <memory>

#include "session/net_link.h"

namespace morvale {

class Net;

// A link over a new hub (workers created, none running).
std::unique_ptr<NetLink> MakeHubLink();

// The hub behind a link made by MakeHubLink (for settings the link has no setter for), else null.
Net* HubOf(NetLink& link);

}  // namespace morvale

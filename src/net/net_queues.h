#pragma once

// The queue types of the hub: decoded events flow to the event thread, requests to the workers.

#include <functional>

#include "net/message_queue.h"
#include "protocol/in_packet.h"
#include "protocol/out_packet.h"

namespace morvale {

using InQueue = MessageQueue<InPacket>;
using OutQueue = MessageQueue<OutPacket>;

// Receives every non-empty batch of events, in queue order, and owns it from then on.
using BatchCallback = std::function<void(InPacketList)>;

}  // namespace morvale

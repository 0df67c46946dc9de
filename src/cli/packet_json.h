#pragma once

// The stable JSON form of a decoded packet, shared by the sub-commands that print packets: keys
// kind, seq, length, body, then the members of the packet's kind in their declared order. Texts
// become UTF-8 strings, numbers JSON numbers, flags true/false, times their day-count value.

#include <string>

#include "cli/json_line.h"
#include "protocol/in_packet.h"
#include "protocol/out_packet.h"

namespace morvale::cli {

JsonLine PacketJson(const InPacket& packet);

// A request as carried by the worker-made kinds: requestKind, channel, tries, url, localFile.
JsonLine RequestJson(const OutPacket& request);

}  // namespace morvale::cli

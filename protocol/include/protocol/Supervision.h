#pragma once

#include <protocol/Bytes.h>

namespace protocol {

// Link supervision: the I-am-alive and keep-alive pair ('a', 'u') and the server's own status
// query ('Q' with sub-letter 'm') with its answer. It keeps the link up and carries no traffic,
// so it is not copied to the traffic monitors.
bool IsSupervisionRequest(ByteView requestBody);
bool IsSupervisionEvent(ByteView eventBody);

} // namespace protocol

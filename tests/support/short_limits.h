#pragma once

#include "protocols/transport.h"

namespace zelm::test {

/// Short limits so silence costs a fraction of a second; the real ones are tens of seconds.
inline void ShortenLimits(Connection& connection, int readableWaitMs = 300, int readLimitMs = 300) {
    auto& limits = connection.Limits();
    limits.readableWaitMs = readableWaitMs;
    limits.readLimitMs = readLimitMs;
    limits.sendLimitMs = 300;
    limits.sliceMs = 20;
}

} // namespace zelm::test

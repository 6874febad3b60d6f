#include "session/screening.h"

namespace zelm {

ScreenResult ScreenMessage(ProcessingSession& /*session*/) {
    return ScreenResult::Neither;
}

} // namespace zelm

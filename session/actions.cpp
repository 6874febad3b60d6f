#include "session/actions.h"

namespace zelm {

ActionOutcome ExecuteFilterActions(ProcessingSession& /*session*/,
                                   const std::string& /*filterName*/) {
    return ActionOutcome::Continue;
}

} // namespace zelm

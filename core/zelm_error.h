#pragma once

#include <stdexcept>
#include <string>

namespace zelm {

/// The one project error: store, file and conversion failures. A session catches it at its top.
class ZelmError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace zelm

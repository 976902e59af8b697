#pragma once

#include <string>

#include "platform/x11/internal/Connection.h"

namespace x11::internal {

// The extensions the backend relies on. Global input monitoring needs RECORD (or XInput 2 as a fallback),
// key synthesis XTEST, cursor and selection-owner tracking XFixes.
struct Capabilities {
    bool record = false;
    bool xinput2 = false;
    bool xtest = false;
    bool xfixes = false;
    bool xres = false;
    bool randr = false;

    static Capabilities probe(Connection& connection);
    bool sufficient() const { return (record || xinput2) && xtest && xfixes; }
    // A readable list of what is missing for `sufficient` ("" when nothing is).
    std::string missing() const;
};

}  // namespace x11::internal

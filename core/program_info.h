#pragma once

#include <string>

#include "version.h"

// The program's own names: defined once, so the window caption and the "X-Mailer" header
// can never drift apart.
namespace zelm {

/// The program file's name; also the start of "zelm is already running.".
inline constexpr const char* ProgramName = "zelm";
/// The application title.
inline constexpr const char* ApplicationTitle = "ZELM";
/// The one-line description that follows the version in the caption.
inline constexpr const char* ProgramDescription = "POP3 mail processor";
/// The version as three numbers joined by ".".
inline constexpr const char* ProgramVersion = ZELM_VERSION_TEXT;
/// The start-up list entry's name.
inline constexpr const char* StartupEntryName = "Zelm";

/// The window caption, also sent as "X-Mailer": "ZELM v1.0.0 - POP3 mail processor".
inline std::string ProgramCaption() {
    return std::string(ApplicationTitle) + " v" + ProgramVersion + " - " + ProgramDescription;
}

/// "<program name> is already running.": what a second copy says before it ends.
inline std::string AlreadyRunningText() {
    return std::string(ProgramName) + " is already running.";
}

} // namespace zelm

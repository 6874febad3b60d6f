#pragma once

/// The window module's file name, beside the `zelm` executable.
#define ZELM_WINDOW_MODULE "zelm_window.so"
/// The entry point the window module exports.
#define ZELM_WINDOW_ENTRY "ZelmRunDesktop"

extern "C" {
/// Runs the desktop window; the signature of ZELM_WINDOW_ENTRY.
int ZelmRunDesktop(int* argc, char** argv, const char* programDir, int alreadyRunning);
}

#pragma once

#include <QString>

// `velmora --run FILE [--port N]`: the script runs on the saved settings with
// no window and no display.
struct HeadlessRequest {
    bool asked = false;
    QString file;
    int port = 0;  // 0: the saved port
    QString error; // a malformed request, for standard error
};

HeadlessRequest headlessRequest(int argc, char** argv);

// Exit statuses besides the script's own exit(n).
enum HeadlessStatus { HeadlessScriptError = 1, HeadlessPortError = 2 };

// Runs the request to its end; returns the exit status: the script's
// exit(n), 0 when it ends by itself, 1 when it fails (FILE:LINE: message on
// standard error), 2 when the port cannot be opened or is lost (the reason
// on standard error), 128 + the signal when interrupted.
int runHeadless(int argc, char** argv, const HeadlessRequest& request);

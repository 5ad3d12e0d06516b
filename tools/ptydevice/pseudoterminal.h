#pragma once

#include <QString>
#include <QtGlobal>

// A new pseudo-terminal in raw mode, as a device's end of a serial line: no
// echo, no CR/LF mapping, every byte as it is, from before a console opens the
// other end. Both ends are close-on-exec, so a program started meanwhile holds
// neither open (a hang-up would never reach the console).
struct PseudoTerminal {
    int deviceEnd = -1; // non-blocking; the device reads and writes it
    // Held open by the device, so that a console may close and reopen its end
    // without the line hanging up; closing it too is the hang-up.
    int consoleEnd = -1;
    QString consolePath; // what a console opens
    QString error; // why there is none, when deviceEnd < 0
};
PseudoTerminal openPseudoTerminal();

// Bytes that have come in on `fd` and are not read yet; 0 when unknown.
qsizetype bytesWaiting(int fd);

#pragma once

#include <QByteArray>

// What every console test pins: the same fonts and font substitutions as the programs.
void setUpTestApplication();

// Spaced hexadecimal, as frames are written in tables: "01 20 04".
QByteArray fromHex(const char *spaced);

// Processor time this process has used, in milliseconds: a spinning loop shows here.
double cpuMs();

// Keeps the event loop running for half a second and says whether the process
// stayed quiet meanwhile: a port spinning on a gone device takes all of it.
// On failure `spentMs` tells how much it took.
bool staysQuiet(double *spentMs);

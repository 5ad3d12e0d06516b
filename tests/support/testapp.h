#pragma once

#include <QByteArray>

// What every console test pins: the same fonts and font substitutions as the programs.
void setUpTestApplication();

// Spaced hexadecimal, as frames are written in tables: "01 20 04".
QByteArray fromHex(const char *spaced);

// Processor time this process has used, in milliseconds: a spinning loop shows here.
double cpuMs();

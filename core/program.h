#pragma once

// How a window shows what arrives: ostrel's decimal last byte, the hexadecimal
// one of the later consoles, and tamsin's handler that acts on every event.
enum class ReplyVariant { FirstGeneration, SecondGeneration, EveryEvent };

// What the builds of one window differ in; fixed when a program is built.
struct Program {
    const char *name;
    int startPort;
    ReplyVariant reply;
};

#pragma once

#include "modalboxes.h"
#include "ptydevice.h"

// COM1 and COM2 on pseudo-terminals, mapped for the consoles through
// COMM_COM1 and COMM_COM2, and every modal box answered and recorded. Made
// afresh for each test function; the boxes go first, then the devices.
struct TwoPorts {
    TwoPorts();

    PtyDevice &com(int port) { return port == 1 ? com1 : com2; }

    PtyDevice com1;
    PtyDevice com2;
    ModalBoxes boxes;
};

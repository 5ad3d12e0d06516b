#include "twoports.h"

TwoPorts::TwoPorts()
{
    qputenv("COMM_COM1", com1.path().toLocal8Bit());
    qputenv("COMM_COM2", com2.path().toLocal8Bit());
}

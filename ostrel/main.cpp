#include "application.h"
#include "form1.h"

int main(int argc, char **argv)
{
    return runProgram<ostrel::Form1>(argc, argv, {PROGRAM_NAME, START_PORT, REPLY_VARIANT});
}

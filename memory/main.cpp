#include "application.h"
#include "form1.h"

int main(int argc, char **argv)
{
    return runProgram<memory::Form1>(argc, argv, {PROGRAM_NAME, START_PORT, REPLY_VARIANT});
}

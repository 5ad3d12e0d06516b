#include "form1.h"
#include "programmain.h"

int main(int argc, char **argv)
{
    return runProgram<dio::Form1>(argc, argv, {PROGRAM_NAME, START_PORT, REPLY_VARIANT});
}

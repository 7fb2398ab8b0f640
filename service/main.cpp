#include "serviceprogram.h"

// The service's entry: everything it does is in ServiceProgram.
int main(int argc, char **argv)
{
    return ServiceProgram::main(argc, argv);
}

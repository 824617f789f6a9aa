#include "server/lifecycle.h"

int main(int argc, char** argv)
{
    return runServer(argc, argv);
}

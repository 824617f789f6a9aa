#include "server/messages.h"

int main()
{
    logInfo("starting");
    return 0;
}

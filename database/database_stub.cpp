// Placeholder until the database lands: nothing is stored, nothing opens.
#include "database/database.h"

int syncDatabase(bool) { return -1; }
int openDatabase() { return 0; }
void releaseDatabase() {}

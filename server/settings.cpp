#include "server/settings.h"

ServerSettings settings;

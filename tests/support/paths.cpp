#include "support/paths.h"

std::string fixturePath(const std::string& name)
{
    return std::string(FIXTURE_DIR) + "/" + name;
}

std::string sourcePath(const std::string& name)
{
    return std::string(SOURCE_DIR) + "/" + name;
}

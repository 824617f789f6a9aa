// Where the tests find the built program, the generated fixtures and the sources.
#pragma once

#include <string>

std::string fixturePath(const std::string& name);
std::string sourcePath(const std::string& name);

// The FSSpec of a path given on the command line.
#pragma once

#include <string>

#include "platform/fsspec.h"

OSErr PathToFSSpec(const std::string& path, FSSpec* spec);

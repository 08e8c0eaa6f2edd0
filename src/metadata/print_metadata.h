// Printing every item of a metadata list in readable form.
#pragma once

#include <cstdio>

#include "platform/handle.h"
#include "platform/user_data.h"

// Prints a heading and one entry per item, by type in list order and by
// index within a type; prints nothing at all for a list without items.
// scratch receives each item in turn. Items that cannot be fetched are left
// out.
void PrintMetaData(UserData ud, Handle scratch, std::FILE* out);

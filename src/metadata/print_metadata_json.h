// Printing every item of a metadata list as one JSON object, for scripts:
// the items, names and values of the readable dump, decoded by the same
// table and rules.
#pragma once

#include <cstdio>

#include "platform/handle.h"
#include "platform/user_data.h"

// Prints {"items":[...]} and a line feed; a list without items gives an
// empty array. Each item has its name (the dump's label), its type as
// "0x" and 8 hex digits, its index within the type and its size in bytes,
// then either "value" or, for an item the dump shows as bytes, "hex".
// A value is a string for text and rationals ("1/60", or "50" over 1), a
// number for the other kinds, and an array of them for a list, every
// element included. Text runs to its first zero byte, its line breaks kept.
// scratch receives each item in turn; items that cannot be fetched are
// left out.
void PrintMetaDataJson(UserData ud, Handle scratch, std::FILE* out);

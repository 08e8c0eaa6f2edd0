// Test seam of colour matching: matches made while pair tables are off go
// through the shares alone, so that tests can hold the two paths to the
// same bytes.
#pragma once

void UseColourPairTables(bool use);

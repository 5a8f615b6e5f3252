// The three supported clients and how each one's executable path is built
// from the installation folder it keeps in the registry.
#pragma once

#include <cstddef>

struct ClientRow {
    int control;           // check box that selects the row; 0 for the default row
    const char* key;       // under HKEY_LOCAL_MACHINE
    const char* valueName; // string value holding the folder
    size_t dropChars;      // characters cut from the end of the value
    const char* exeName;   // appended; begins with a backslash
};

constexpr size_t kClientCount = 3;
// In the order the locator tests them; the last row is the default.
extern const ClientRow kClientTable[kClientCount];

// The first row whose check box is ticked, else the default row.
const ClientRow& PickClientRow(bool morpheusChecked, bool kazaaChecked);

// Builds the executable path into path (pathSize bytes, zero-filled first)
// from the registry data: data holds dataSize bytes as the registry returned
// them, found says whether the read succeeded. A value that is missing, holds
// no terminating zero within dataSize, or leaves too little room for the
// executable name counts as not found: the result is then the executable
// name alone, which begins with a backslash. pathSize must exceed the
// length of row.exeName.
void BuildClientPath(const ClientRow& row, const char* data, size_t dataSize, bool found,
                     char* path, size_t pathSize);

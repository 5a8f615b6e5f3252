#include "app/client_table.h"

#include <cstring>

#include "res/resource.h"

// "DatabaseDir" names the client's database folder, three characters ("\db")
// below the installation folder.
const ClientRow kClientTable[kClientCount] = {
    {IDC_OPT_MORPHEUS, "SOFTWARE\\Morpheus\\LocalContent", "DatabaseDir", 3, "\\Morpheus.exe"},
    {IDC_OPT_KAZAA, "SOFTWARE\\KaZaA\\CloudLoad", "ExeDir", 0, "\\Kazaa.exe"},
    {0, "SOFTWARE\\Grokster\\LocalContent", "DatabaseDir", 3, "\\Grokster.exe"},
};

const ClientRow& PickClientRow(bool morpheusChecked, bool kazaaChecked) {
    if (morpheusChecked)
        return kClientTable[0];
    if (kazaaChecked)
        return kClientTable[1];
    return kClientTable[2];
}

void BuildClientPath(const ClientRow& row, const char* data, size_t dataSize, bool found,
                     char* path, size_t pathSize) {
    memset(path, 0, pathSize);
    size_t length = 0;
    bool usable = found && data != nullptr;
    if (usable) {
        const void* end = memchr(data, '\0', dataSize);
        usable = end != nullptr;
        if (usable)
            length = static_cast<size_t>(static_cast<const char*>(end) - data);
    }
    if (usable && length >= row.dropChars)
        length -= row.dropChars;
    const size_t nameLength = strlen(row.exeName);
    if (nameLength >= pathSize)
        return; // cannot happen with the table above and a MAX_PATH buffer
    if (usable && length + nameLength + 1 > pathSize)
        usable = false;
    if (!usable)
        length = 0;
    if (length > 0)
        memcpy(path, data, length);
    memcpy(path + length, row.exeName, nameLength + 1);
}

// DAT files: the 10-byte footer, its checksum, verification and repair.
// Portable: no windows.h; file access goes through dat/dat_io.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "dat/dat_io.h"

// The complement of the usual CRC-32 (reflected 0xEDB88320, register started
// at 0xFFFFFFFF, no final inversion).
std::uint32_t DatChecksum(const void* bytes, std::size_t count);

// The register before any byte, and the same checksum fed in pieces:
// DatChecksum(ab) == DatChecksumUpdate(DatChecksum(a), b).
inline constexpr std::uint32_t kDatChecksumStart = 0xFFFFFFFFu;
std::uint32_t DatChecksumUpdate(std::uint32_t reg, const void* bytes, std::size_t count);

// What became of a file beyond its report lines: each value is there when
// it was read or computed.
struct DatFacts {
    std::optional<std::uint32_t> pointer, fileChecksum, calculatedChecksum;
    std::optional<std::uint32_t> newPointer, newChecksum;
    std::optional<std::int64_t> sizeChange; // bytes the repair adds (negative: removes)
    std::string backup;                     // where the original was kept, if it was
    std::string error;                      // why the file could not be opened, read or replaced
    bool unopened = false;                  // the file could not be opened: nothing of it was read
    bool unread = false;              // it opened, but a read failed: no verdict on its footer
    bool changed = false;             // another program changed it after its verdict: left as it is
    std::optional<DatIoStamp> judged; // the file as its verdict found it
};

// How a repair is carried out.
struct DatRepairOptions {
    const char* backupSuffix = nullptr; // keep the original as PATH.SUFFIX when it changes
    bool dryRun = false;                // compute and report, write nothing
};

// 1: stored checksum matches; 0: it does not; -1: no "KAZA" magic (or the
// file cannot be opened or read: facts say which). Writes its report lines
// through AppendReport.
int VerifyDatFile(const char* path, DatFacts* facts = nullptr);

// Rebuilds a damaged file's trailer, region length and checksum in place.
// Leaves the file byte for byte unchanged when no consistent repair exists.
// True when the repaired content is in place (or, in a dry run, could be put
// there); the caller learns whether it verifies by verifying again. Given
// the facts of its verification, it repairs only the file so judged: one
// that another program has changed since, or changes during the repair, is
// left as that program left it (facts->changed).
bool RepairDatFile(const char* path, const DatRepairOptions& options = {},
                   DatFacts* facts = nullptr);
// Takes over what an interrupted repair of the file left (see DatIoTakeOver).
void TakeOverDatLeftovers(const char* path, const DatRepairOptions& options = {});

// Asked before a damaged file is repaired; returns true for "Yes".
using RepairQuestion = bool (*)(void* context, const char* path);

enum class DatOutcome {
    Ok,            // verified 1
    FooterDamaged, // verified -1 after reading the file
    Unopened,      // verified -1: the file could not be opened
    Unread,        // verified -1: the file opened, but could not be read
    Declined,      // verified 0, not repaired (answer No, or nobody to ask)
    Repaired,      // repaired and verified again as 1
    WouldRepair,   // a dry run found a repair that would verify
    RepairFailed,  // repaired, and the second verification gave 0 or -1
    Changed,       // another program changed the file after its verdict: left as it is
};

// The processing of one file by the repair job and the command-line tool:
// verify, report the verdict, and for a bad checksum ask (ask may be null:
// then nothing is asked and the file is left alone), repair, verify again
// and report the verdict. With ask, a file found intact has what an
// interrupted repair left beside it taken over (unless in a dry run). A dry
// run says what the repair would add or remove before its verdict.
DatOutcome ProcessDatFile(const char* path, RepairQuestion ask, void* context,
                          const DatRepairOptions& options = {}, DatFacts* facts = nullptr);

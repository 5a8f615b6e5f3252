#include "dat/dat.h"
#include "dat/report.h"

#include <cstdint>

DatOutcome ProcessDatFile(const char* path, RepairQuestion ask, void* context) {
    const auto text = reinterpret_cast<std::uintptr_t>(path);
    int result = VerifyDatFile(path);
    if (result > 0) {
        AppendReport(kReportOk, text, 1);
        return DatOutcome::Ok;
    }
    if (result < 0) {
        AppendReport(kReportFooterDamaged, text, 1);
        return DatOutcome::FooterDamaged;
    }
    if (!ask || !ask(context, path))
        return DatOutcome::Declined;
    RepairDatFile(path);
    // Only a matching checksum is a success: -1 after a repair means the file
    // could not even be read again.
    if (VerifyDatFile(path) == 1) {
        AppendReport(kReportRepaired, text, 1);
        return DatOutcome::Repaired;
    }
    AppendReport(kReportRepairFailed, text, 1);
    return DatOutcome::RepairFailed;
}

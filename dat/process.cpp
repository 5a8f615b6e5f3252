#include "dat/dat.h"
#include "dat/report.h"

#include <cstdint>
#include <string>

DatOutcome ProcessDatFile(const char* path, RepairQuestion ask, void* context,
                          const DatRepairOptions& options, DatFacts* facts) {
    DatFacts ignored;
    DatFacts& f = facts ? *facts : ignored;
    const auto text = reinterpret_cast<std::uintptr_t>(path);
    const int result = VerifyDatFile(path, &f);
    if (result > 0) {
        AppendReport(kReportOk, text, 1);
        if (ask && !options.dryRun)
            TakeOverDatLeftovers(path, options);
        return DatOutcome::Ok;
    }
    if (f.unopened) {
        AppendReport(kReportUnopened, text, 1);
        return DatOutcome::Unopened;
    }
    if (f.unread) {
        AppendReport(kReportUnread, text, 1);
        return DatOutcome::Unread;
    }
    if (result < 0) {
        AppendReport(kReportFooterDamaged, text, 1);
        return DatOutcome::FooterDamaged;
    }
    if (!ask || !ask(context, path))
        return DatOutcome::Declined;
    const bool replaced = RepairDatFile(path, options, &f);
    if (f.changed) {
        AppendReport(kReportChanged, text, 1);
        return DatOutcome::Changed;
    }
    if (options.dryRun) {
        if (replaced && f.sizeChange) {
            const std::int64_t change = *f.sizeChange;
            const std::string count = std::to_string(change < 0 ? -change : change);
            AppendReport(change < 0   ? kReportRemoves
                         : change > 0 ? kReportAdds
                                      : kReportKeepsSize,
                         reinterpret_cast<std::uintptr_t>(count.c_str()), 1);
        }
        AppendReport(replaced ? kReportWouldRepair : kReportRepairFailed, text, 1);
        return replaced ? DatOutcome::WouldRepair : DatOutcome::RepairFailed;
    }
    // Only a matching checksum is a success: -1 after a repair means the file
    // could not even be read again.
    DatFacts again;
    if (VerifyDatFile(path, &again) == 1) {
        AppendReport(kReportRepaired, text, 1);
        return DatOutcome::Repaired;
    }
    if (f.error.empty())
        f.error = again.error;
    AppendReport(kReportRepairFailed, text, 1);
    return DatOutcome::RepairFailed;
}

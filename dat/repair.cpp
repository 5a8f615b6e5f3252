#include "dat/dat.h"
#include "dat/dat_footer.h"
#include "dat/dat_io.h"
#include "dat/report.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint64_t kBlock = 1000;
// The largest region length the footer's 16 bits hold.
constexpr std::uint64_t kDatMaxRegion = 0xFFFF;
// Files shorter than this have no end-aligned block before the footer's.
constexpr std::uint64_t kSmallFile = 2 * kBlock;
constexpr std::size_t kWindow = 64 * 1024;
constexpr std::uint64_t kChunkBlocks = 1024;

bool IsPrintable(int b) {
    return b >= 0x20 && b <= 0x7D;
}

// The file's bytes by position for the backward scans. A miss loads the
// window that ends just after the byte's right-hand neighbour, so a scan
// moving backwards reads the file once, in large pieces.
class BackwardReader {
  public:
    BackwardReader(DatIoFile* file, std::uint64_t size) : file_(file), size_(size) {}

    // The byte at pos, or -1 when it lies outside the file or cannot be read.
    int At(std::int64_t pos) {
        if (pos < 0 || std::uint64_t(pos) >= size_)
            return -1;
        std::uint64_t p = std::uint64_t(pos);
        if (p < begin_ || p >= begin_ + window_.size()) {
            std::uint64_t end = std::min(size_, p + 2);
            std::uint64_t begin = end > kWindow ? end - kWindow : 0;
            window_.resize(static_cast<std::size_t>(end - begin));
            if (!DatIoRead(file_, begin, window_.data(), window_.size())) {
                window_.clear();
                return -1;
            }
            begin_ = begin;
        }
        return window_[static_cast<std::size_t>(p - begin_)];
    }

  private:
    DatIoFile* file_;
    std::uint64_t size_;
    std::uint64_t begin_ = 0;
    std::vector<unsigned char> window_;
};

// Phases 1 and 2 share one shape: a candidate byte whose right neighbour
// must pass one test and whose left neighbour must be printable. A rejected
// candidate resumes three (right neighbour failed) or four (left neighbour
// failed) positions before itself. Returns the position or -1.
template <typename RightTest>
std::int64_t FindBackwards(BackwardReader& reader, std::int64_t p, int wanted, RightTest right) {
    while (p >= 0) {
        int b = reader.At(p);
        if (b < 0)
            return -1;
        if (b != wanted) {
            --p;
            continue;
        }
        if (!right(reader.At(p + 1))) {
            p -= 3;
            continue;
        }
        int left = reader.At(p - 1); // -1 before the first byte: no find
        if (left < 0)
            return -1;
        if (IsPrintable(left))
            return p;
        p -= 4;
    }
    return -1;
}

bool IsMarkerLetter(int b) {
    return b == 'K' || b == 'M' || b == '?';
}

// Phases 1 to 3: the first byte of the trailer, or -1.
std::int64_t FindTrailerStart(DatIoFile* file, std::uint64_t size) {
    BackwardReader reader(file, size);
    std::int64_t marker = FindBackwards(reader, std::int64_t(size) - 11, '@', IsMarkerLetter);
    if (marker < 0)
        return -1;
    std::int64_t dot = FindBackwards(reader, marker - 2, '.', IsPrintable);
    if (dot < 0)
        return -1;
    std::int64_t q = dot - 1;
    while (q >= 0 && IsPrintable(reader.At(q)))
        --q;
    // A printable run that reaches the first byte has no start.
    return q < 0 ? -1 : q + 1;
}

bool AllZero(const unsigned char* p, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (p[i])
            return false;
    return true;
}

// Phase 4: where the trailer goes (W), or -1 when no place is consistent.
// The end-aligned blocks are examined from the end, a chunk of them per read;
// after the last all-zero block, the first non-zero byte starts the 4-byte
// value in front of W.
std::int64_t FindDataEnd(DatIoFile* file, std::uint64_t size) {
    const std::uint64_t lowest = size % kBlock;
    std::vector<unsigned char> chunk;
    std::uint64_t end = size;
    while (end >= lowest + kBlock) {
        std::uint64_t begin = std::max(lowest, end - std::min(end, kChunkBlocks * kBlock));
        chunk.resize(static_cast<std::size_t>(end - begin));
        if (!DatIoRead(file, begin, chunk.data(), chunk.size()))
            return -1;
        for (std::uint64_t block = end - kBlock;; block -= kBlock) {
            if (AllZero(&chunk[static_cast<std::size_t>(block - begin)], kBlock)) {
                // Forward from the block's end: first in what is loaded, then on.
                std::uint64_t r = block + kBlock;
                for (; r < end; ++r)
                    if (chunk[static_cast<std::size_t>(r - begin)])
                        return std::int64_t(r) + 4;
                while (r < size) {
                    unsigned char piece[4096];
                    std::size_t n =
                        static_cast<std::size_t>(std::min<std::uint64_t>(sizeof piece, size - r));
                    if (!DatIoRead(file, r, piece, n))
                        return -1;
                    for (std::size_t i = 0; i < n; ++i)
                        if (piece[i])
                            return std::int64_t(r + i) + 4;
                    r += n;
                }
                return -1;
            }
            if (block == begin)
                break;
        }
        end = begin;
    }
    return size < kSmallFile ? std::int64_t(size) : -1;
}

void Put16(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void Put32(unsigned char* p, std::uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

// What a repair writes: the file keeps its first `keep` bytes and gets
// `tail` after them.
struct RepairPlan {
    std::uint64_t keep = 0;
    std::vector<unsigned char> tail;
    std::uint32_t newPointer = 0;
    std::uint32_t newChecksum = 0;
    std::int64_t sizeChange = 0; // bytes the new content has more than the file
    bool unchanged = false;
};

// Computes the repair from reading alone. False when no consistent file can
// come of it: no magic, a scan without a find, or a new region length the
// 16-bit field cannot hold.
bool PlanRepair(DatIoFile* file, RepairPlan* plan) {
    std::uint64_t size = 0;
    DatFooter footer;
    std::vector<unsigned char> last;
    if (!ReadDatFooter(file, &size, &footer, last) || size < kDatFooterSize + 1)
        return false;

    std::int64_t start = FindTrailerStart(file, size);
    if (start < 0)
        return false;
    const std::uint64_t trailerSize = size - std::uint64_t(start);
    const std::uint64_t newPointer = trailerSize - 2;
    if (newPointer > kDatMaxRegion)
        return false;
    std::int64_t w = FindDataEnd(file, size);
    if (w < 8)
        return false;
    const std::uint64_t at = std::uint64_t(w);

    // Tail from W - 4: the value 1, the trailer, its footer renewed.
    plan->keep = at - 4;
    plan->tail.assign(4 + static_cast<std::size_t>(trailerSize), 0);
    unsigned char* tail = plan->tail.data();
    Put32(tail, 1);
    unsigned char* trailer = tail + 4;
    if (!DatIoRead(file, std::uint64_t(start), trailer, static_cast<std::size_t>(trailerSize)))
        return false;
    Put16(trailer + trailerSize - 6, static_cast<std::uint32_t>(newPointer));

    // The new region: the four bytes before the value, the value, and the
    // trailer up to its footer.
    unsigned char header[4];
    if (!DatIoRead(file, at - 8, header, sizeof header))
        return false;
    std::uint32_t k = DatChecksumUpdate(kDatChecksumStart, header, sizeof header);
    k = DatChecksumUpdate(k, tail, 4 + static_cast<std::size_t>(trailerSize) - kDatFooterSize);
    Put32(trailer + trailerSize - 4, k);
    plan->newPointer = static_cast<std::uint32_t>(newPointer);
    plan->newChecksum = k;
    plan->sizeChange =
        static_cast<std::int64_t>(plan->keep + plan->tail.size()) - static_cast<std::int64_t>(size);

    // A file already laid out as the repair leaves it needs no write.
    if (plan->keep + plan->tail.size() == size) {
        std::vector<unsigned char> old(plan->tail.size());
        plan->unchanged = DatIoRead(file, plan->keep, old.data(), old.size()) && old == plan->tail;
    }
    return true;
}

// Whether the open file is the one its verdict was given on: as it was
// then, and its footer and region read again give the same numbers (a
// change within the clock's tick shows there).
bool StillAsJudged(DatIoFile* file, const DatFacts& facts) {
    if (!facts.judged)
        return true;
    DatFacts again;
    JudgeDatFile(file, again);
    return DatIoStampOf(file) == *facts.judged && again.pointer == facts.pointer &&
           again.fileChecksum == facts.fileChecksum &&
           again.calculatedChecksum == facts.calculatedChecksum;
}

// Where a repair with these options keeps the original; empty for none.
std::string BackupPathOf(const char* path, const DatRepairOptions& options) {
    return options.backupSuffix ? std::string(path) + "." + options.backupSuffix : std::string();
}

} // namespace

bool RepairDatFile(const char* path, const DatRepairOptions& options, DatFacts* facts) {
    DatFacts ignored;
    if (!facts)
        facts = &ignored;
    DatIoHandle file = DatIoOpen(path, DatIoMode::Write);
    const std::string refused = DatIoLastError();
    // A file we may not write still gets its report lines, so the user sees
    // what the repair would have written.
    if (!file)
        file = DatIoOpen(path, DatIoMode::Peek);
    if (file && !StillAsJudged(file.get(), *facts)) {
        facts->changed = true;
        return false;
    }
    RepairPlan plan;
    if (!file || !PlanRepair(file.get(), &plan)) {
        facts->error = refused.empty() ? DatIoLastError() : refused;
        return false;
    }
    facts->newPointer = plan.newPointer;
    facts->newChecksum = plan.newChecksum;
    facts->sizeChange = plan.sizeChange;
    AppendReport(kReportNewPointer, plan.newPointer, 0);
    AppendReport(kReportNewChecksum, plan.newChecksum, 0);
    facts->error = refused;
    const std::string backup = BackupPathOf(path, options);
    if (plan.unchanged && refused.empty() && !options.dryRun)
        DatIoTakeOver(file.get(), path, backup.empty() ? nullptr : backup.c_str());
    if (!refused.empty() || options.dryRun || plan.unchanged)
        return refused.empty();
    DatIoReplaceScope replacing;
    if (!DatIoReplace(file.get(), path, plan.keep, plan.tail.data(), plan.tail.size(),
                      backup.empty() ? nullptr : backup.c_str())) {
        facts->error = DatIoLastError();
        facts->changed = facts->error == kDatIoChanged;
        return false;
    }
    facts->backup = backup;
    return true;
}

void TakeOverDatLeftovers(const char* path, const DatRepairOptions& options) {
    DatIoHandle file = DatIoOpen(path, DatIoMode::Write);
    const std::string backup = BackupPathOf(path, options);
    if (file)
        DatIoTakeOver(file.get(), path, backup.empty() ? nullptr : backup.c_str());
}

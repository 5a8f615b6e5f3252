#include "dat/dat_io.h"

namespace {

thread_local DatIoFaultHook t_hook = nullptr;
thread_local void* t_hookContext = nullptr;
thread_local std::uint64_t t_reads = 0;

} // namespace

void SetDatIoFaultHook(DatIoFaultHook hook, void* context) {
    t_hook = hook;
    t_hookContext = context;
}

bool DatIoFaultAt(DatIoStep step) {
    return t_hook && t_hook(t_hookContext, step);
}

std::uint64_t DatIoReadCalls() {
    return t_reads;
}

void DatIoCountRead() {
    ++t_reads;
}

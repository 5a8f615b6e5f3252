#include "tests/dat/dat_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Zeros(std::size_t count) {
    return Bytes(count, 0);
}

Bytes Le16(std::uint32_t value) {
    return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8)};
}

Bytes Le32(std::uint32_t value) {
    return Concat({Le16(value), Le16(value >> 16)});
}

std::uint32_t BytewiseChecksum(const unsigned char* bytes, std::size_t count, std::uint32_t reg) {
    static const auto table = [] {
        std::vector<std::uint32_t> t(256);
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    for (std::size_t i = 0; i < count; ++i)
        reg = table[(reg ^ bytes[i]) & 0xFF] ^ (reg >> 8);
    return reg;
}

Bytes WithFooter(const Bytes& data, std::uint32_t region,
                 std::optional<std::uint32_t> storedChecksum) {
    std::uint32_t sum = BytewiseChecksum(data.data() + data.size() - region, region);
    return Concat({data, ToBytes("KAZA"), Le16(region), Le32(storedChecksum.value_or(sum))});
}

namespace {

std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

bool Printable(int b) {
    return b >= 0x20 && b <= 0x7D;
}

// A file as a sequence of writes would leave it: writing past the end
// extends it (with zeros in any gap), truncation cuts it.
void WriteAt(Bytes& file, std::size_t at, const Bytes& data) {
    if (file.size() < at + data.size())
        file.resize(at + data.size(), 0);
    std::copy(data.begin(), data.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
}

// Back from p to `mark` with a fitting next byte and a printable previous
// one: a mark whose next byte does not fit sends the scan three back, one
// whose previous byte is not printable four back. -1 when the first byte is
// reached.
std::int64_t ScanBack(const Bytes& f, std::int64_t p, unsigned char mark, bool (*fits)(int)) {
    for (;;) {
        if (p < 0)
            return -1;
        if (f[static_cast<std::size_t>(p)] != mark) {
            p -= 1;
        } else if (!fits(f[static_cast<std::size_t>(p + 1)])) {
            p -= 3;
        } else if (p - 1 < 0) {
            return -1;
        } else if (Printable(f[static_cast<std::size_t>(p - 1)])) {
            return p;
        } else {
            p -= 4;
        }
    }
}

} // namespace

int ModelVerify(const Bytes& file) {
    if (file.size() < 10 || std::memcmp(&file[file.size() - 10], "KAZA", 4) != 0)
        return -1;
    std::size_t length = file[file.size() - 6] | file[file.size() - 5] << 8;
    if (length > file.size() - 10)
        return 0;
    std::uint32_t stored = Get32(file, file.size() - 4);
    return BytewiseChecksum(&file[file.size() - 10 - length], length) == stored ? 1 : 0;
}

std::optional<ModelRepair> ModelRepairOf(const Bytes& f) {
    const std::int64_t size = static_cast<std::int64_t>(f.size());
    auto at = [&](std::int64_t p) { return f[static_cast<std::size_t>(p)]; };

    // Phase 1: the marker; phase 2: the dot in front of it.
    std::int64_t p =
        ScanBack(f, size - 11, '@', [](int b) { return b == 'K' || b == 'M' || b == '?'; });
    if (p >= 0)
        p = ScanBack(f, p - 2, '.', Printable);
    if (p < 0)
        return std::nullopt;
    // Phase 3: the start of the text.
    p -= 1;
    while (p >= 0 && Printable(at(p)))
        p -= 1;
    if (p < 0)
        return std::nullopt;
    const std::int64_t start = p + 1;
    const Bytes trailer(f.begin() + start, f.end());
    const std::int64_t t = size - start;

    // Phase 4: the end of the data.
    std::int64_t w = -1;
    for (std::int64_t block = size - 1000; block >= 0 && w < 0; block -= 1000) {
        bool zero = true;
        for (std::int64_t i = block; i < block + 1000; ++i)
            zero = zero && at(i) == 0;
        if (!zero)
            continue;
        std::int64_t r = block + 1000;
        while (r < size && at(r) == 0)
            ++r;
        if (r == size)
            return std::nullopt;
        w = r + 4;
    }
    if (w < 0) {
        if (size >= 2000)
            return std::nullopt;
        w = size;
    }

    // The rewrite, step by step.
    ModelRepair result;
    Bytes& out = result.file;
    out = f;
    WriteAt(out, static_cast<std::size_t>(w), trailer);
    const std::int64_t e = w + t;
    WriteAt(out, static_cast<std::size_t>(w - 4), Le32(1));
    out.resize(static_cast<std::size_t>(e));
    const std::int64_t pointer = e - (w + 2);
    result.newPointer = static_cast<std::uint32_t>(pointer);
    WriteAt(out, static_cast<std::size_t>(e - 6), Le16(static_cast<std::uint32_t>(pointer)));
    const std::int64_t from = e - 10 - pointer;
    result.newChecksum =
        BytewiseChecksum(&out[static_cast<std::size_t>(from)], static_cast<std::size_t>(pointer));
    WriteAt(out, static_cast<std::size_t>(e - 4), Le32(result.newChecksum));
    return result;
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

ExpectedRepair ExpectedRepairOf(const Bytes& file) {
    std::optional<ModelRepair> model = ModelRepairOf(file);
    if (!model || ModelVerify(model->file) != 1)
        return {file, {}};
    return {model->file,
            {"New Pointer: " + Hex(model->newPointer) + "\r\n",
             "New Checksum: " + Hex(model->newChecksum) + "\r\n"}};
}

#include "dat/dat.h"
#include "tests/dat/dat_test_util.h"

#include <random>

namespace {

TEST(DatChecksum, KnownValuesOfTheDefinition) {
    EXPECT_EQ(DatChecksum("", 0), 0xFFFFFFFFu) << "no bytes leave the register as started";
    EXPECT_EQ(DatChecksum("abc", 3), 0xCADBBE3Du);
    EXPECT_EQ(DatChecksum("123456789", 9), 0x340BC6D9u);
}

// The fast paths (sixteen bytes per table step, carry-less folding where the
// processor has it) against one table step per byte, over every length
// around the block sizes and at every alignment, whole and in pieces.
TEST(DatChecksum, EqualsTheBytewiseDefinitionOnRandomBuffers) {
    std::mt19937 random(20261206);
    Bytes buffer(70000);
    for (auto& b : buffer)
        b = static_cast<unsigned char>(random());
    for (std::size_t length = 0; length <= 300; ++length)
        for (std::size_t offset = 0; offset < 17; ++offset)
            ASSERT_EQ(DatChecksum(&buffer[offset], length),
                      BytewiseChecksum(buffer, offset, length))
                << "length " << length << ", offset " << offset;
    for (std::size_t length : {1023u, 4096u, 65535u, 69999u})
        EXPECT_EQ(DatChecksum(&buffer[1], length), BytewiseChecksum(buffer, 1, length)) << length;
    const std::uint32_t whole = DatChecksum(buffer.data(), 5000);
    for (int round = 0; round < 200; ++round) {
        std::uint32_t reg = kDatChecksumStart;
        for (std::size_t at = 0, piece; at < 5000; at += piece) {
            piece = std::min<std::size_t>(random() % 300, 5000 - at);
            reg = DatChecksumUpdate(reg, &buffer[at], piece);
        }
        ASSERT_EQ(reg, whole) << "round " << round;
    }
}

} // namespace

// Grid-shaped readers below the boundary: the zigzag row reversal at every row length
// (blocks and remainder) and the lazily zeroed MALA padding.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/bytes.hpp"
#include "parser/magnetometry.hpp"
#include "parser/mala.hpp"

namespace orvek {
namespace {

ByteBuffer grid_bytes(std::size_t values, std::size_t surplus_bytes) {
    ByteBuffer bytes = ByteBuffer::uninitialized(2 * values + surplus_bytes);
    for (std::size_t i = 0; i < values; ++i)
        store_le16(bytes.data() + 2 * i, static_cast<std::uint16_t>(i * 7 + 1));
    std::memset(bytes.data() + 2 * values, 0xAB, surplus_bytes);
    return bytes;
}

// Every row length up to a few blocks, with the file buffer taken over (no surplus)
// and copied out (a surplus larger than the grid).
TEST(MagnetometryGrid, ZigzagReversesOddRowsAtEveryLength) {
    constexpr std::uint64_t kRows = 5;
    for (std::uint64_t columns = 1; columns <= 40; ++columns) {
        for (std::size_t surplus : {std::size_t{0}, std::size_t{1000}}) {
            GrdHeader header;
            header.rows = kRows;
            header.columns = columns;
            const Survey survey = parse_magnetometry("g.dat", header, grid_bytes(kRows * columns, surplus));
            ASSERT_EQ(survey.trace_data.size(), 2 * kRows * columns);
            for (std::uint64_t r = 0; r < kRows; ++r) {
                for (std::uint64_t c = 0; c < columns; ++c) {
                    const std::uint64_t source_column = r % 2 == 1 ? columns - 1 - c : c;
                    const auto expected = static_cast<std::uint16_t>((r * columns + source_column) * 7 + 1);
                    ASSERT_EQ(load_le16(survey.trace_data.data() + 2 * (r * columns + c)), expected)
                        << "columns " << columns << " row " << r << " column " << c << " surplus " << surplus;
                }
            }
        }
    }
}

long resident_kib() {
    long pages_total = 0;
    long pages_resident = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return -1;
    const int read = std::fscanf(statm, "%ld %ld", &pages_total, &pages_resident);
    std::fclose(statm);
    return read == 2 ? pages_resident * 4 : -1;
}

// A RAD header claiming 4 GiB over a 4-byte file: the record has the full size, the
// file bytes lead, and the padding never becomes resident.
TEST(MalaPadding, ClaimedSizeCostsAddressSpaceOnly) {
    RadHeader header;
    header.samples_per_trace = 1 << 20;
    header.num_traces = 1 << 11;
    const std::uint8_t file[4] = {1, 2, 3, 4};
    const long before = resident_kib();
    const Survey survey = parse_mala("x.rd3", header, false, file);
    const long after = resident_kib();
    ASSERT_EQ(survey.trace_data.size(), std::size_t{1} << 32);
    EXPECT_EQ(std::memcmp(survey.trace_data.data(), file, 4), 0);
    EXPECT_EQ(survey.trace_data.data()[4], 0);
    if (before >= 0 && after >= 0) {
        EXPECT_LT(after - before, 64 * 1024) << "padding became resident";
    }
}

}  // namespace
}  // namespace orvek

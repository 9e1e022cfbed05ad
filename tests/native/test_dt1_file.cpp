// Reading a DT1 file straight into the record: the scatter read and a file that
// changes length between taking its size and reading it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/failure.hpp"
#include "io/file_access.hpp"
#include "parser/dt1.hpp"

namespace {

using namespace orvek;

struct TempFile {
    std::string path;
    explicit TempFile(const std::vector<std::uint8_t>& bytes) {
        char name[] = "/tmp/orvek_dt1_XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
        path = name;
    }
    ~TempFile() { std::remove(path.c_str()); }
};

// n traces of 128 header bytes and `d` sample bytes; every byte is its offset mod 251.
std::vector<std::uint8_t> dt1_bytes(std::size_t n, std::size_t d) {
    std::vector<std::uint8_t> bytes(n * (128 + d));
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
    return bytes;
}

void expect_same(const Survey& a, const Survey& b) {
    ASSERT_EQ(a.num_traces, b.num_traces);
    ASSERT_EQ(a.trace_data.size(), b.trace_data.size());
    EXPECT_EQ(std::memcmp(a.trace_data.data(), b.trace_data.data(), a.trace_data.size()), 0);
    EXPECT_EQ(std::memcmp(a.trace_positions.data(), b.trace_positions.data(), 4 * a.num_traces), 0);
    EXPECT_EQ(std::memcmp(a.trace_elevations.data(), b.trace_elevations.data(), 4 * a.num_traces), 0);
    EXPECT_EQ(std::memcmp(a.trace_time_zeros.data(), b.trace_time_zeros.data(), 4 * a.num_traces), 0);
}

TEST(ReadDt1, MatchesTheInMemoryParse) {
    // 1300 traces span several reads of 512 traces; 8 bytes of samples per trace.
    const auto bytes = dt1_bytes(1300, 8);
    std::vector<std::uint8_t> with_tail = bytes;
    with_tail.resize(bytes.size() + 50, 7);
    TempFile file(with_tail);
    SequentialFile input(file.path);
    const Survey read = read_dt1(file.path, input, "NUMBEROFPTS=4");
    expect_same(read, parse_dt1(file.path, with_tail, "NUMBEROFPTS=4"));
    EXPECT_EQ(read.num_traces, 1300u);
}

TEST(ReadDt1, FileThatShrinksKeepsTheWholeTracesLeft) {
    const auto bytes = dt1_bytes(1000, 8);
    TempFile file(bytes);
    SequentialFile input(file.path);
    const std::size_t shorter = 700 * 136 + 100;
    ASSERT_EQ(truncate(file.path.c_str(), static_cast<off_t>(shorter)), 0);
    const Survey read = read_dt1(file.path, input, "NUMBEROFPTS=4");
    EXPECT_EQ(read.num_traces, 700u);
    expect_same(read, parse_dt1(file.path, std::span(bytes.data(), shorter), "NUMBEROFPTS=4"));
}

std::string failure_of_shrunk_file(std::size_t shorter) {
    TempFile file(dt1_bytes(4, 200));
    SequentialFile input(file.path);
    EXPECT_EQ(truncate(file.path.c_str(), static_cast<off_t>(shorter)), 0);
    try {
        read_dt1(file.path, input, "NUMBEROFPTS=100");
    } catch (const Failure& failure) {
        return failure.what();
    }
    return "no failure";
}

TEST(ReadDt1, FileThatShrinksBelowOneTraceFailsAsTheShorterFileWould) {
    EXPECT_EQ(failure_of_shrunk_file(200), "No valid traces found in DT1 file");
    EXPECT_EQ(failure_of_shrunk_file(100), "File too small for DT1 format");
}

TEST(SequentialFile, PiecesPastTheEndAreLeftUnfilled) {
    TempFile file({1, 2, 3, 4, 5});
    SequentialFile input(file.path);
    std::uint8_t a[2] = {}, b[0] = {}, c[4] = {9, 9, 9, 9};
    const std::span<std::uint8_t> pieces[] = {a, std::span(b, 0), c};
    EXPECT_EQ(input.read_pieces(pieces), 5u);
    EXPECT_EQ(a[0], 1);
    EXPECT_EQ(a[1], 2);
    EXPECT_EQ(c[0], 3);
    EXPECT_EQ(c[2], 5);
    EXPECT_EQ(c[3], 9);
    EXPECT_EQ(input.read_pieces(pieces), 0u);
}

}  // namespace

// libFuzzer target over every reader of the native core: bytes and header texts in,
// a Survey or a Failure out. Checks the record invariants the readers promise: per-trace
// arrays are empty or hold one value per trace, and trace_data matches the geometry.
//
// The first input byte picks the reader; for readers that take a header text and a data
// file, the rest is split at the first 0xFF byte (text before, data after).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/failure.hpp"
#include "core/utf8.hpp"
#include "parser/dt1.hpp"
#include "parser/dzg.hpp"
#include "parser/dzt.hpp"
#include "parser/magnetometry.hpp"
#include "parser/mala.hpp"
#include "parser/segy.hpp"
#include "parser/text.hpp"

namespace {

using orvek::Survey;

void require(bool condition) {
    if (!condition) std::abort();
}

void check_per_trace(const Survey& s) {
    for (const auto* values : {&s.trace_positions, &s.trace_time_zeros, &s.trace_elevations, &s.src_x_coords,
                               &s.src_y_coords}) {
        require(values->empty() || values->size() == s.num_traces);
    }
}

struct Split {
    std::string_view text;
    std::span<const std::uint8_t> data;
};

Split split(std::span<const std::uint8_t> input) {
    std::size_t cut = 0;
    while (cut < input.size() && input[cut] != 0xFF) ++cut;
    const std::string_view text(reinterpret_cast<const char*>(input.data()), cut);
    const auto rest = cut < input.size() ? input.subspan(cut + 1) : input.subspan(cut);
    return {text, rest};
}

// Header texts reach the readers as Python str, that is as valid UTF-8.
bool usable_text(std::string_view text) {
    return orvek::is_valid_utf8({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

void run(std::uint8_t selector, std::span<const std::uint8_t> input) {
    const auto [text, data] = split(input);
    switch (selector % 7) {
        case 0: {  // DZT: the header bytes and a claimed file length
            const std::uint64_t file_size = input.size() * 977ULL;
            const Survey s = orvek::parse_dzt("f.dzt", input.first(input.size() < 54 ? input.size() : 54), file_size);
            require(s.trace_data.empty());
            break;
        }
        case 1: {  // DZG
            if (!usable_text(text)) return;
            for (const auto& p : orvek::parse_dzg(text)) require(p.line < 1 + text.size());
            break;
        }
        case 2: {  // DT1 with and without an HD text
            if (!usable_text(text)) return;
            const Survey s = orvek::parse_dt1("f.dt1", data, text.empty() ? std::nullopt : std::optional(text));
            check_per_trace(s);
            require(s.trace_positions.size() == s.num_traces);
            require(s.trace_data.size() <= data.size());
            break;
        }
        case 3:
        case 4: {  // MALA RD3 / RD7: sizes are capped so that padding stays affordable
            if (!usable_text(text)) return;
            const orvek::RadHeader header = orvek::read_rad_header(text);
            std::uint64_t bytes = 0;
            if (__builtin_mul_overflow(header.samples_per_trace, header.num_traces, &bytes) || bytes > (1u << 22))
                return;
            const Survey s = orvek::parse_mala("f.rd3", header, selector % 7 == 4, data);
            require(s.trace_data.size() == bytes * (selector % 7 == 4 ? 4 : 2));
            break;
        }
        case 5: {  // magnetometry
            if (!usable_text(text)) return;
            const orvek::GrdHeader header = orvek::read_grd_header(text);
            orvek::ByteBuffer dat = orvek::ByteBuffer::uninitialized(data.size());
            if (!data.empty()) std::memcpy(dat.data(), data.data(), data.size());
            const Survey s = orvek::parse_magnetometry("f.dat", header, std::move(dat));
            require(s.trace_data.size() == s.num_traces * s.samples_per_trace * 2);
            break;
        }
        case 6: {  // SEG-Y
            const Survey s = orvek::segy::parse_segy("f.sgy", input);
            check_per_trace(s);
            require(s.trace_data.size() <= input.size());
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) return 0;
    try {
        run(bytes[0], std::span<const std::uint8_t>(bytes + 1, size - 1));
    } catch (const orvek::Failure&) {
        // a reader's own refusal: the expected way out of bad input
    }
    // An InternalFault or any other exception escapes and is reported as a finding.
    return 0;
}

// Adapters of the MALA and magnetometry readers: arguments in, file access, record out.
#include <string>

#include "functions.hpp"
#include "io/file_access.hpp"
#include "parser/magnetometry.hpp"
#include "parser/mala.hpp"

namespace orvek::py {

Ref call_parse_magnetometry(const Args& args) {
    const std::string_view dat_path = to_text(args[0], "dat_path");
    const std::string_view grd_path = to_text(args[1], "grd_path");
    // The GRD text is read and checked whole before the DAT file is opened.
    const GrdHeader header = read_grd_header(read_text_file(grd_path));
    return survey_object(parse_magnetometry(std::string(dat_path), header, read_file(dat_path)));
}

Ref call_parse_mala(const Args& args) {
    const std::string_view path = to_text(args[0], "path");
    const std::string_view rad_content = to_text(args[1], "rad_content");
    const bool is_rd7 = to_bool(args[2], "is_rd7");
    // A RAD text without geometry fails before the data file is touched.
    const RadHeader header = read_rad_header(rad_content);
    Survey survey = [&] {
        const FileMapping data(path);  // unmapped before the record reaches Python
        return parse_mala(std::string(path), header, is_rd7, data.bytes());
    }();
    return survey_object(std::move(survey));
}

}  // namespace orvek::py

// Adapters of the DZT, DT1 and DZG readers: file access, then the native parser, then
// the result as new Python objects.
#include "core/failure.hpp"
#include "functions.hpp"
#include "io/file_access.hpp"
#include "parser/dt1.hpp"
#include "parser/dzg.hpp"
#include "parser/dzt.hpp"

namespace orvek::py {

namespace {

[[noreturn, gnu::cold]] void fail_result(const char* what) {
    throw InternalFault(std::string("cannot build the ") + what);
}

// (line index, latitude, longitude, altitude) as a tuple of int and three floats.
Ref position_tuple(const DzgPosition& position) {
    Ref tuple = Ref::steal(PyTuple_New(4));
    if (!tuple) fail_result("position tuple");
    Ref items[] = {int_from(position.line), float_from(position.latitude), float_from(position.longitude),
                   float_from(position.altitude)};
    for (Py_ssize_t i = 0; i < 4; ++i) {
        if (PyTuple_SetItem(tuple.get(), i, items[i].release()) != 0) fail_result("position tuple");
    }
    return tuple;
}

}  // namespace

Ref call_parse_dzt(const Args& args) {
    const std::string_view path = to_text(args[0], "path");
    const FilePrefix prefix = read_file_prefix(path, kDztHeaderBytes);
    return survey_object(parse_dzt(path, prefix.bytes.span(), prefix.file_size));
}

Ref call_parse_dt1(const Args& args) {
    const std::string_view path = to_text(args[0], "path");
    const std::optional<std::string_view> hd_content = to_optional_text(args[1], "hd_content");
    Survey survey = [&] {
        SequentialFile file(path);  // closed before the record goes to Python
        return read_dt1(path, file, hd_content);
    }();
    return survey_object(std::move(survey));
}

Ref call_parse_dzg(const Args& args) {
    const std::string_view path = to_text(args[0], "path");
    const std::vector<DzgPosition> positions = parse_dzg(read_text_file(path));
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(positions.size())));
    if (!list) fail_result("position list");
    for (std::size_t i = 0; i < positions.size(); ++i) {
        if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), position_tuple(positions[i]).release()) !=
            0) {
            fail_result("position list");
        }
    }
    return list;
}

}  // namespace orvek::py

// Survey record helpers: the processing-step clock and the representation text.
#include "types/survey.hpp"

#include <cerrno>
#include <ctime>

#include "core/failure.hpp"

namespace orvek {

ProcessingStep make_processing_step(std::string name, std::string parameters) {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
        throw InternalFault("the real-time clock cannot be read: " + os_error_message(errno));
    }
    double timestamp = 0.0;  // a clock set before 1970 records 0.0
    if (now.tv_sec >= 0) {
        timestamp = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1000000000.0;
    }
    return ProcessingStep{std::move(name), std::move(parameters), timestamp, kSoftwareVersion};
}

std::string survey_repr(const Survey& survey) {
    std::string text;
    text.reserve(64 + survey.format.size());
    text += "PySurvey(format=";
    text += survey.format;
    text += ", traces=";
    text += std::to_string(survey.num_traces);
    text += ", samples=";
    text += std::to_string(survey.samples_per_trace);
    text += ", bits=";
    text += std::to_string(static_cast<unsigned>(survey.bits_per_sample));
    text += ')';
    return text;
}

}  // namespace orvek

// Messages of the failure vocabulary.
#include "core/failure.hpp"

#include <cstring>

namespace orvek {

std::string os_error_message(int error_code) {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not live in `buffer`.
    const char* text = strerror_r(error_code, buffer, sizeof buffer);
    return std::string(text) + " (os error " + std::to_string(error_code) + ")";
}

SystemFailure::SystemFailure(int error_code)
    : Failure(os_error_message(error_code)), error_code_(error_code) {}

}  // namespace orvek

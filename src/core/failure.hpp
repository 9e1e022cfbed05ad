// The failures the native core reports: one small vocabulary, turned into Python
// exceptions in exactly one place of the binding.
#pragma once

#include <stdexcept>
#include <string>

namespace orvek {

// A reader's or the writer's own check failed. The message is the whole text the
// caller sees: the binding raises it as OSError(message).
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The operating system refused a file operation. The message reads
// "<system description> (os error N)"; the binding raises it as OSError(message).
class SystemFailure : public Failure {
public:
    explicit SystemFailure(int error_code);
    int error_code() const noexcept { return error_code_; }

private:
    int error_code_;
};

// A broken internal invariant met at run time (a bug, or a documented internal
// fault such as a too-short sample list). The binding raises InternalFault.
class InternalFault : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// "<system description> (os error N)" for an errno value.
std::string os_error_message(int error_code);

}  // namespace orvek

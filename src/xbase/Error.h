#pragma once

#include <stdexcept>
#include <string>

namespace tarvina::xbase {

// The one error type of the engine. Every public operation either completes or
// throws XBaseError; no other exception type leaves the library (allocation
// failures and internal faults are converted at the public boundary).
class XBaseError : public std::runtime_error {
public:
    enum class Code {
        NotFound,    // a table, index, tag or field that does not exist
        Damaged,     // a file whose bytes contradict themselves or its length
        Io,          // the operating system refused a read, write, sync or lock
        Locked,      // another handle holds the table in a conflicting mode
        Invalid,     // a request the engine cannot honour (bad name, width, state)
        Unsupported, // a valid xBase feature outside what this engine understands
    };

    XBaseError(Code code, const std::string& message) : std::runtime_error(message), code_(code) {}
    Code code() const { return code_; }

private:
    Code code_;
};

[[noreturn]] inline void Fail(XBaseError::Code code, const std::string& message) {
    throw XBaseError(code, message);
}

} // namespace tarvina::xbase

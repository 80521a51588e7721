#pragma once
// Errors from system calls carried as values: the operation, the path it
// concerned and errno, turned into words for the operator by describe().

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace ostrel::platform {

struct SysError {
    SysError() = default;
    SysError(std::string op_, std::string path_, int code_, std::string detail_ = {})
        : op(std::move(op_)), path(std::move(path_)), code(code_), detail(std::move(detail_)) {}

    std::string op;    // "open", "flock", "TCSETS2", ...; "map" for a port-map look-up
    std::string path;  // device or file concerned, may be empty
    int code = 0;      // errno value; 0 for errors that are not from errno
    // What is known beyond errno, in the operator's words: for a busy port who
    // holds it ("held by picocom, pid 1234"); for a path in the way what is
    // there ("a symbolic link to /dev/pts/4").
    std::string detail;

    // Operator-facing text, for example "/dev/ttyUSB0: port is busy (in use by another program)",
    // "/dev/ttyUSB0: port is busy (held by picocom, pid 1234)" with a detail,
    // or "COM7 is not mapped to any device" for {"map", "COM7", ENOENT}.
    std::string describe() const;
    // True when the error means "someone else holds the port" (EBUSY, EWOULDBLOCK).
    bool isBusy() const;
};

SysError lastError(std::string op, std::string path = {});  // from the current errno

// The one table of errno values in the operator's words. A port speaks of
// devices ("port is busy (in use by another program)"); a file of files and
// pipes ("locked by another program"). Codes without words of their own get
// the system's text, first letter lowered for a file.
enum class ErrorSubject { Port, File };
std::string errnoWords(int code, ErrorSubject subject);
// "name: words" for a file that could not be opened or written.
std::string describeFileError(const std::string& name, int code);

// A value or a SysError. Small on purpose; C++20 has no std::expected.
template <class T>
class Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(SysError error) : v_(std::move(error)) {}
    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() & { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const T& value() const& { return std::get<0>(v_); }
    const SysError& error() const { return std::get<1>(v_); }

private:
    std::variant<T, SysError> v_;
};

// Success or a SysError, for operations that give no value.
template <>
class Result<void> {
public:
    Result() = default;
    Result(SysError error) : error_(std::move(error)) {}
    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const SysError& error() const { return *error_; }

private:
    std::optional<SysError> error_;
};

using Status = Result<void>;

}  // namespace ostrel::platform

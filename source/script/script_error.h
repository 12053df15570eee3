// The failures of the script compiler; each carries its finished message.
#pragma once

#include <stdexcept>
#include <string>

namespace kam::script {

class DSBaseError : public std::runtime_error {
public:
    explicit DSBaseError(const std::string& message) : std::runtime_error(message) {}
};

// A character sequence that is no token; the parser reports it and reads on.
class ScannerError : public DSBaseError {
public:
    using DSBaseError::DSBaseError;
};

// A name that code generation cannot resolve.
class ParserError : public DSBaseError {
public:
    using DSBaseError::DSBaseError;
};

// An operand beyond what the bytecode can encode.
class GeneratorError : public DSBaseError {
public:
    using DSBaseError::DSBaseError;
};

}  // namespace kam::script

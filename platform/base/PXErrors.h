// Exceptions of the platform: every failure carries a message naming what was wrong.
#pragma once

#include <stdexcept>
#include <string>

namespace pixora {

// Base of all errors raised by the platform and the components.
class EPXError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An index, size or value outside its allowed range.
class ERangeError : public EPXError {
public:
    using EPXError::EPXError;
};

// Arithmetic that would overflow its type.
class EOverflowError : public EPXError {
public:
    using EPXError::EPXError;
};

// A property name, value text or persisted block that could not be understood.
class EPropertyError : public EPXError {
public:
    using EPXError::EPXError;
};

// A graph file, pin connection or component class that is not valid.
class EGraphError : public EPXError {
public:
    using EPXError::EPXError;
};

}  // namespace pixora

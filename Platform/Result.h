// Result<T> and Status: how the suite's own code passes failures up.
// No exceptions cross the system's code; a failure is a value that carries
// a readable message with enough context to print it once, where it is handled.
#pragma once

#include <string>
#include <utility>
#include <variant>

struct Error {
    std::string message;
};

template <typename T>
class Result {
public:
    Result(T value) : fState(std::move(value)) {}
    Result(Error error) : fState(std::move(error)) {}

    static Result fail(std::string message) { return Result(Error{std::move(message)}); }

    bool ok() const { return std::holds_alternative<T>(fState); }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<T>(fState); }
    const T& value() const& { return std::get<T>(fState); }
    T&& value() && { return std::get<T>(std::move(fState)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const { return std::get<Error>(fState); }
    const std::string& message() const { return error().message; }

private:
    std::variant<T, Error> fState;
};

// The result of an operation that gives nothing back but may fail.
class Status {
public:
    Status() = default;
    Status(Error error) : fFailed(true), fMessage(std::move(error.message)) {}

    static Status success() { return Status(); }
    static Status fail(std::string message) { return Status(Error{std::move(message)}); }

    bool ok() const { return !fFailed; }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return fMessage; }

private:
    bool fFailed = false;
    std::string fMessage;
};

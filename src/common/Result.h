#pragma once
// Result<T>: the outcome of a fallible set-up step, either a value or an error
// text meant for a person (a status line, an event log entry). Per-frame paths
// do not use it; they return small status enums instead.

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tv {

struct Error {
    std::string text;
};

inline Error fail(std::string text) { return Error{std::move(text)}; }

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(Error e) : v_(std::move(e)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }

    const std::string& error() const { return std::get<1>(v_).text; }

private:
    std::variant<T, Error> v_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error e) : err_(std::move(e.text)) {}

    bool ok() const { return !err_.has_value(); }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return *err_; }

private:
    std::optional<std::string> err_;
};

using Status = Result<void>;

} // namespace tv

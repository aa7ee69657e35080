#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

/// The kind of an error that no caller tells apart from another: the text is
/// all there is to it.
enum class NoKind { failure };

/// Why something could not be done: a French text, for the user, and, where a
/// caller must tell failures apart, a kind.
template <typename Kind = NoKind> struct Error {
    explicit Error(std::string text, Kind kind = {}) : text(std::move(text)), kind(kind) {}
    std::string text;
    Kind kind;
};

/// A value, or why there is none. Returned by the functions that can fail on
/// the disk, the folders, the schedule or the locks, so that they all fail in
/// one way, and that no failure can be dropped unseen.
template <typename T, typename Kind = NoKind> class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error<Kind> error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    /// The value; only when ok().
    T& operator*() & { return std::get<0>(state_); }
    const T& operator*() const& { return std::get<0>(state_); }
    T&& operator*() && { return std::get<0>(std::move(state_)); }
    T* operator->() { return &std::get<0>(state_); }
    const T* operator->() const { return &std::get<0>(state_); }

    /// Why there is no value, in French; only when !ok().
    const std::string& error() const { return std::get<1>(state_).text; }
    Kind kind() const { return std::get<1>(state_).kind; }

private:
    std::variant<T, Error<Kind>> state_;
};

/// Done, or why not. A default-made one is done: `return {};`.
template <typename Kind> class [[nodiscard]] Result<void, Kind> {
public:
    Result() = default;
    Result(Error<Kind> error) : error_(std::move(error)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }

    /// Why it was not done, in French; only when !ok().
    const std::string& error() const { return error_->text; }
    Kind kind() const { return error_->kind; }

private:
    std::optional<Error<Kind>> error_;
};

#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

// Why something failed, in words for the user ("No space left on device").
struct Failure final {
    QString reason;
};

// What an operation that may fail gives: its value, or why it failed. True when it succeeded.
template <typename T = void>
class [[nodiscard]] Result final {
public:
    Result(T value) : m_outcome(std::move(value)) {}
    Result(Failure failure) : m_outcome(std::move(failure)) {}

    explicit operator bool() const { return std::holds_alternative<T>(m_outcome); }
    // The value: only when it succeeded.
    const T &operator*() const & { return std::get<T>(m_outcome); }
    T &&operator*() && { return std::get<T>(std::move(m_outcome)); }
    const T *operator->() const { return &std::get<T>(m_outcome); }
    // Empty when it succeeded.
    QString reason() const { return *this ? QString() : std::get<Failure>(m_outcome).reason; }

private:
    std::variant<T, Failure> m_outcome;
};

// An operation that gives nothing but may fail.
template <>
class [[nodiscard]] Result<void> final {
public:
    Result() = default;
    Result(Failure failure) : m_failure(std::move(failure)) {}

    explicit operator bool() const { return !m_failure; }
    QString reason() const { return m_failure ? m_failure->reason : QString(); }

private:
    std::optional<Failure> m_failure;
};

// How every layer says that something failed: the program's own sentence and, when a system
// call was the reason, the system's words for why. A person reads both as one line,
// "c:\Zelv003 could not be created: Permission denied".
#pragma once

#include <QString>

#include <cerrno>
#include <optional>
#include <utility>
#include <variant>

namespace zelv {

class Error {
public:
    Error() = default;
    explicit Error(QString message, QString cause = QString())
        : m_message(std::move(message))
        , m_cause(std::move(cause))
    {}

    // The sentence, with the cause of a failed system call (errno by default).
    static Error fromErrno(QString message, int error = errno) { return Error(std::move(message), describe(error)); }
    // The system's words for an errno value.
    static QString describe(int error);

    const QString &message() const { return m_message; }
    const QString &cause() const { return m_cause; }
    // The whole line a person reads: "message: cause", or the message alone.
    QString text() const { return m_cause.isEmpty() ? m_message : m_message + QStringLiteral(": ") + m_cause; }

    // The same cause under another sentence, for a caller that knows better what was being done.
    Error reworded(QString message) const { return Error(std::move(message), m_cause); }

    bool operator==(const Error &) const = default;

private:
    QString m_message;
    QString m_cause;
};

// A value, or the error that kept it from being had.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_state(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T &value() const & { return std::get<0>(m_state); }
    T &value() & { return std::get<0>(m_state); }
    T &&value() && { return std::get<0>(std::move(m_state)); }
    const T &operator*() const & { return value(); }
    T &operator*() & { return value(); }
    const T *operator->() const { return &value(); }
    T *operator->() { return &value(); }
    T valueOr(T fallback) const { return ok() ? value() : std::move(fallback); }

    const Error &error() const { return std::get<1>(m_state); }

private:
    std::variant<T, Error> m_state;
};

// Success, or the error.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)) {}

    bool ok() const { return !m_error; }
    explicit operator bool() const { return ok(); }
    const Error &error() const { return *m_error; }

private:
    std::optional<Error> m_error;
};

} // namespace zelv

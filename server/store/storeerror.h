#pragma once
// What a storage call reports: done, or why not, as a value returned by the call itself.

#include <QString>

#include <optional>
#include <utility>

namespace zimble::server {

struct StoreError {
    enum class Kind {
        Busy,     // the database is locked or the transaction lost a conflict: worth trying again
        Lost,     // the connection is gone; reconnecting may bring it back
        Refused,  // the database refused the statement for its own reason (disk full, a trigger, ...)
        BadInput, // what was given cannot be stored (a malformed import row, a wrong file)
    };
    Kind kind = Kind::Refused;
    QString reason; // on one line, for logs and the operator
};

// Done, or the error. Converts to true when done, so that `if (!store.call())` reads naturally.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(StoreError error) : m_error(std::move(error)) {}
    static Status busy(QString why) { return StoreError{StoreError::Kind::Busy, std::move(why)}; }
    static Status lost(QString why) { return StoreError{StoreError::Kind::Lost, std::move(why)}; }
    static Status refused(QString why) { return StoreError{StoreError::Kind::Refused, std::move(why)}; }
    static Status badInput(QString why) { return StoreError{StoreError::Kind::BadInput, std::move(why)}; }

    explicit operator bool() const { return !m_error; }
    bool ok() const { return !m_error; }
    bool is(StoreError::Kind kind) const { return m_error && m_error->kind == kind; }
    QString reason() const { return m_error ? m_error->reason : QString(); }
    const std::optional<StoreError>& error() const { return m_error; }

private:
    std::optional<StoreError> m_error;
};

} // namespace zimble::server

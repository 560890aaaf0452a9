#pragma once

#include "platform/SystemError.h"

#include <QString>
#include <exception>
#include <string>
#include <utility>

// A step that failed: what the component or the platform said went wrong,
// and what kind of trouble it is.
// Handlers record these and look at them only at fixed check points, so a
// failing step never stops the steps after it by itself.
class Failure : public std::exception {
public:
    explicit Failure(QString description, ErrorKind kind = ErrorKind::Other)
        : m_description(std::move(description)), m_kind(kind), m_utf8(m_description.toStdString()) {
    }
    const QString& description() const { return m_description; }
    ErrorKind kind() const { return m_kind; }
    const char* what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_description;
    ErrorKind m_kind;
    std::string m_utf8;
};

// The most recent failure of a run of steps; a later failure replaces an
// earlier one, and nothing clears it until the handler says so.
class PendingFailure {
public:
    template <class Step> bool attempt(Step&& step) {
        try {
            step();
            return true;
        } catch (const Failure& failure) {
            record(failure.description());
            return false;
        }
    }
    void record(const QString& description) {
        m_pending = true;
        m_description = description;
    }
    bool pending() const { return m_pending; }
    const QString& description() const { return m_description; }
    void clear() {
        m_pending = false;
        m_description.clear();
    }

private:
    bool m_pending = false;
    QString m_description;
};

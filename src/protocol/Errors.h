// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <stdexcept>

// Raised errors are programming errors and a few documented failures; everything on the
// protocol path travels as a status code instead. Each family derives from EKaroError, whose
// text the program shows in an error box.
class EKaroError : public std::runtime_error {
public:
    explicit EKaroError(const QString& message)
        : std::runtime_error(message.toStdString()), FMessage(message) {}
    const QString& Message() const { return FMessage; }

private:
    QString FMessage;
};

// A list addressed outside its elements.
class EListError : public EKaroError {
public:
    using EKaroError::EKaroError;
};

#pragma once

#include <QString>

#include <exception>
#include <string>

// Base of every error the system raises: carries the message text that ends up
// in the log unchanged.
class Exception : public std::exception {
public:
    explicit Exception(QString message)
        : FMessage(std::move(message)), FUtf8(FMessage.toStdString()) {}

    const QString& Message() const { return FMessage; }
    const char* what() const noexcept override { return FUtf8.c_str(); }

private:
    QString FMessage;
    std::string FUtf8;
};

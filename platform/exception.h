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

// The message of the exception being handled; `fallback` for one that carries none.
// Only to be called inside a catch block.
inline QString CurrentExceptionMessage(const QString& fallback = {}) {
    try {
        throw;
    } catch (const Exception& failure) {
        return failure.Message();
    } catch (const std::exception& failure) {
        return QString::fromUtf8(failure.what());
    } catch (...) {
        return fallback;
    }
}

#pragma once

#include "platform/text_codec.h"

#include <QFile>
#include <QString>

#include <gtest/gtest.h>

// The text of a fixture page under tests/data, read as a fetch thread reads a body.
inline QString FixtureText(const QString& name) {
    QFile file(QStringLiteral(QUORVEL_TEST_DATA_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "missing fixture " << file.fileName().toStdString();
        return {};
    }
    return DecodeUtf8(file.readAll());
}

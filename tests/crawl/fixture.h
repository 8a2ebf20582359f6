#pragma once

#include "crawl/name_value_list.h"
#include "platform/text_codec.h"

#include <QFile>
#include <QString>

#include <utility>

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

// A name-value list holding the given entries, added in order.
inline TNameValueList NameValues(std::initializer_list<std::pair<QString, QString>> entries) {
    TNameValueList list;
    for (const auto& [name, value] : entries)
        list.Add(name, value);
    return list;
}

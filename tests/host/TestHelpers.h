// Helpers shared by the host's unit and end-to-end tests.
#pragma once

#include "tests/common/Poll.h"
#include "common/Json.h"

#include <QCoreApplication>
#include <QStringList>
#include <QVariantMap>

#include <functional>

// Runs the event loop until done() or the deadline passes; true when done.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) { return pollUntil(done, timeoutMs); }

// A state datagram read with the codec the visualiser uses; empty when it does not parse.
inline QVariantMap parsedDatagram(const QByteArray& text)
{
    bool ok = false;
    const QVariant value = Json::parse(QString::fromLatin1(text), ok);
    return ok ? value.toMap() : QVariantMap();
}

// The keys of a datagram in the order they were sent.
inline QStringList datagramKeys(const QByteArray& text)
{
    QStringList keys;
    for (const QByteArray& pair : text.mid(1, text.size() - 2).split(','))
        keys << QString::fromLatin1(pair.left(pair.indexOf(':'))).remove('"');
    return keys;
}

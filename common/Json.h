#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// JSON text <-> QVariant, shared by both programs (settings files, state
// datagrams, trajectory table).
//
// The reader is lenient on purpose: commas may appear anywhere between
// elements or be missing, and text after the first complete value is ignored.
// Objects become QVariantMap (repeated key: last one wins), arrays QVariantList,
// strings QString, true/false bool, null an invalid QVariant. Numbers:
//   contains "."           -> double (0.0 when the text does not convert)
//   starts with "-"        -> int, else qlonglong, else the number text as QString
//   otherwise              -> uint, else qulonglong, else the number text as QString
// Number text is the longest run of "0123456789+-.eE", so 1e5 is the QString "1e5".
//
// The writer produces one line: { "key" : value, ... }, [ a, b ], reals in the
// shortest fixed-point form that reads back as the same value (a float as the
// same float), never with an exponent, and with ".0" appended when they would
// read back as integers.
namespace Json {

// Nesting deeper than this fails cleanly instead of exhausting the stack.
constexpr int MaxDepth = 256;

// Reads one value from the start of text. ok is set false on failure; the
// returned value must then not be used. A null QString gives an invalid
// QVariant with ok true; an empty or blank text fails.
QVariant parse(const QString& text, bool& ok);

// UTF-8 text of data, or a null QByteArray when any part of it has no JSON
// form (a type with no text conversion, an infinite or NaN number).
QByteArray serialize(const QVariant& data);

// text between double quotes with \\ \" \b \f \n \r \t escaped; nothing else is.
QString quoteString(const QString& text);

} // namespace Json

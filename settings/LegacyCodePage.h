#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace quobin {

// The code page that older programs on this system write text files in,
// where it has one besides UTF-8: on Windows the system's ANSI code page
// (1252 in Western Europe), whatever code page this program itself runs in.
// Elsewhere text files are UTF-8 and there is none
// (LegacyCodePage.cpp, win32/LegacyCodePage.cpp).
namespace legacyCodePage {

// bytes as text in that code page; nothing when there is none, or when
// bytes are no valid text in it.
std::optional<QString> decode(QByteArrayView bytes);
// text in that code page; nothing when there is none, or when a character
// of text has no byte of its own in it.
std::optional<QByteArray> encode(const QString &text);

} // namespace legacyCodePage

} // namespace quobin

// The checks the manifest's values go through, free of any key table: numbers
// of a kind, address lists, URLs, and how close a misspelt key comes to a
// known one.
#pragma once

#include <QJsonValue>
#include <QString>

namespace ombrix {

// A whole number of 0 or more.
bool IsCount(const QJsonValue& value);
// A whole number of -1 (never) or more.
bool IsSecondsOrNever(const QJsonValue& value);
// A number from 0.25 to 5.
bool IsZoom(const QJsonValue& value);
// A list of strings.
bool IsUrlList(const QJsonValue& value);
// A JSON value as the vendor wrote it, for a start-up line.
QString JsonText(const QJsonValue& value);
// How close name comes to known: the edit distance of both without case, "_"
// and "-", or -1 when it is too far to be a slip of the pen.
int Closeness(const QString& name, const QString& known);
// Whether text starts with a URL's scheme ("file:", "https:", "client:"). A
// single letter is a drive ("C:/kiosk"), not a scheme.
bool HasScheme(const QString& text);
// A page that shows without any server: a file: or client: address.
bool IsLocalAddress(const QString& text);

}  // namespace ombrix

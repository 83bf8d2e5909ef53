// URLs built from text a page or a manifest gives: encoded as the engine
// encodes an address typed into a page's request, and the app's folder put
// into a URL without changing what the URL means.
#pragma once

#include <QByteArray>
#include <QString>

namespace ombrix {

// text as a request may send it: UTF-8, the path and query percent-encoded,
// an international host in its ASCII form. Empty when text is no URL (it does
// not parse, or it has no scheme).
QByteArray EncodedUrl(const QString& text);

// path with every character a URL would read differently ("#", "?", "%", a
// space, non-ASCII) percent-encoded; "/" stays.
QString PercentEncodedPath(const QString& path);

// ExpandAppDir for a text that is a URL (it begins with a scheme): the folder
// goes in percent-encoded, so a folder named "a#b" or "50%" still names itself.
// A text that is an absolute path once expanded becomes that file's file: URL,
// percent-encoded the same way; other texts are expanded as they are.
QString ExpandAppDirInUrl(const QString& text);

}  // namespace ombrix

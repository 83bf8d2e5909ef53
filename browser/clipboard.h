// The clipboard, owned by the shell so that what a page put there stays
// pasteable after the page (and its web process) has gone.
#pragma once

#include <QByteArray>

namespace ombrix {

// Offers html as "text/html" and as the "HTML Format" block, and text (when not
// empty) as plain text, replacing what the clipboard held. False when the
// clipboard could not be taken.
bool SetClipboardHtml(const QByteArray& html, const QByteArray& text);

}  // namespace ombrix

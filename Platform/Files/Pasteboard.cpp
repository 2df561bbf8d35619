#include "Files/Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>

void Pasteboard::setGeneralString(const QString &text) {
    if (QClipboard *clipboard = QGuiApplication::clipboard()) clipboard->setText(text, QClipboard::Clipboard);
}

QString Pasteboard::generalString() {
    if (QClipboard *clipboard = QGuiApplication::clipboard()) return clipboard->text(QClipboard::Clipboard);
    return {};
}

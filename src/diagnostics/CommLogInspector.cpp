// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CommLogInspector.h"

#include "protocol/HexText.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <bit>
#include <cstring>

namespace {

// The first `n` bytes as an unsigned number, first byte lowest or highest.
std::uint64_t Read(const TByteArray& b, int n, bool little) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v |= static_cast<std::uint64_t>(b[static_cast<std::size_t>(little ? i : n - 1 - i)])
             << (8 * i);
    return v;
}

template <typename T> QString Signed(std::uint64_t v) {
    return QString::number(static_cast<T>(v));
}

QString FloatText(std::uint64_t v) {
    const float f = std::bit_cast<float>(static_cast<std::uint32_t>(v));
    return QString::number(static_cast<double>(f), 'g', 9);
}

} // namespace

QList<TInspectorRow> InspectBytes(const TByteArray& bytes) {
    const int n = static_cast<int>(bytes.size());
    const QString none = QStringLiteral("-");
    QList<TInspectorRow> rows;
    // Each reading of `size` bytes, from both ends of the value.
    const auto add = [&](const char* name, int size, auto text) {
        if (n < size) {
            rows.append({QLatin1String(name), none, none});
            return;
        }
        const QString little = text(Read(bytes, size, true));
        rows.append(
            {QLatin1String(name), little, size == 1 ? little : text(Read(bytes, size, false))});
    };
    add("uint8", 1, [](std::uint64_t v) { return QString::number(v); });
    add("int8", 1, Signed<std::int8_t>);
    add("uint16", 2, [](std::uint64_t v) { return QString::number(v); });
    add("int16", 2, Signed<std::int16_t>);
    add("uint32", 4, [](std::uint64_t v) { return QString::number(v); });
    add("int32", 4, Signed<std::int32_t>);
    add("float", 4, FloatText);
    QString text;
    for (std::uint8_t b : bytes)
        text += b < 32 ? QChar(u'_') : QChar(QLatin1Char(static_cast<char>(b)));
    rows.append({QStringLiteral("text"), QLatin1Char('"') + text + QLatin1Char('"'), QString()});
    return rows;
}

TLogInspector::TLogInspector(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Data inspector"), this));
    edInspector = new QPlainTextEdit(this);
    edInspector->setObjectName(QStringLiteral("edInspector"));
    edInspector->setReadOnly(true);
    edInspector->setLineWrapMode(QPlainTextEdit::NoWrap);
    edInspector->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    edInspector->setMinimumWidth(edInspector->fontMetrics().horizontalAdvance(QLatin1Char('0')) *
                                 44);
    layout->addWidget(edInspector, 1);
    btnCopyHex = new QPushButton(QStringLiteral("Copy as hex"), this);
    btnCopyHex->setObjectName(QStringLiteral("btnCopyHex"));
    layout->addWidget(btnCopyHex);
    connect(btnCopyHex, &QPushButton::clicked, this, &TLogInspector::CopyHex);
    Inspect({});
}

void TLogInspector::Inspect(const TByteArray& bytes) {
    if (FShown && bytes == FBytes)
        return;
    FShown = true;
    FBytes = bytes;
    btnCopyHex->setEnabled(!bytes.empty());
    if (bytes.empty()) {
        edInspector->setPlainText(QStringLiteral("Mark hexadecimal bytes in the log."));
        return;
    }
    QStringList lines{QStringLiteral("%1 bytes: %2").arg(bytes.size()).arg(HexBytes(bytes)),
                      QStringLiteral("%1%2%3")
                          .arg(QString(), -8)
                          .arg(QStringLiteral("little-endian"), -18)
                          .arg(QStringLiteral("big-endian"))};
    for (const TInspectorRow& r : InspectBytes(bytes))
        lines << QStringLiteral("%1%2%3").arg(r.Name, -8).arg(r.Little, -18).arg(r.Big);
    edInspector->setPlainText(lines.join(QLatin1Char('\n')));
}

void TLogInspector::CopyHex() const {
    if (!FBytes.empty())
        QGuiApplication::clipboard()->setText(HexBytes(FBytes));
}

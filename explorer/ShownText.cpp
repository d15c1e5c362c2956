#include "ShownText.h"

#include "PackPath.h"

#include <QCoreApplication>
#include <QLocale>

QString shownText(const std::string &latin1)
{
    return QString::fromStdString(zarnik::ShownPath(latin1));
}

QString sizeText(quint64 bytes)
{
    // As QLocale::formattedDataSize() in its IEC form writes it, at a
    // fraction of the cost: three of these for each row shown. Units of 1024
    // named as the tool names them (KiB, MiB...), so both give one size
    // alike.
    static const QString units[] = {
        QCoreApplication::translate("ShownText", "bytes"), QCoreApplication::translate("ShownText", "KiB"),
        QCoreApplication::translate("ShownText", "MiB"), QCoreApplication::translate("ShownText", "GiB"),
        QCoreApplication::translate("ShownText", "TiB")};
    static const QLocale locale;
    static const QString decimalPoint = locale.decimalPoint();
    // Whole numbers from 1,000 on take the locale's separator.
    const auto whole = [](quint64 n) { return n < 1000 ? QString::number(n) : locale.toString(n); };
    if (bytes == 1)
        return QCoreApplication::translate("ShownText", "1 byte");
    if (bytes < 1024)
        return whole(bytes) + QLatin1Char(' ') + units[0];
    int unit = 0;
    quint64 scaled = bytes;
    while (scaled >= 1024 * 1024 && unit < 3) {
        scaled /= 1024;
        ++unit;
    }
    // Tenths, rounded half up, as the locale's formatting rounds.
    const quint64 tenths = (scaled * 10 + 512) / 1024;
    return whole(tenths / 10) + decimalPoint + QString::number(tenths % 10) + QLatin1Char(' ') + units[unit + 1];
}

QString countText(quint64 n, const QString &one, const QString &many, const QString &none)
{
    if (n == 0 && !none.isEmpty())
        return none;
    return n == 1 ? one : many.arg(QLocale().toString(n));
}

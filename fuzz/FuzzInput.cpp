#include "FuzzInput.h"

#include <cstdio>
#include <cstdlib>

namespace FuzzInput {

void silenceQtMessages()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", qPrintable(message));
            std::abort();
        }
    });
}

QString text(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return QString();
    }
    const auto *rest = reinterpret_cast<const char *>(data + 1);
    const qsizetype length = qsizetype(size - 1);
    if (data[0] & 1) {
        QString units(length / 2, Qt::Uninitialized);
        for (qsizetype i = 0; i < units.size(); ++i) {
            units[i] = QChar(char16_t(uint8_t(rest[2 * i]) | uint8_t(rest[2 * i + 1]) << 8));
        }
        return units;
    }
    return QString::fromUtf8(rest, length);
}

QList<QString> parts(const uint8_t *data, size_t size, int count)
{
    QList<QString> result;
    size_t start = 0;
    for (size_t i = 0; i <= size && result.size() < count - 1; ++i) {
        if (i == size || data[i] == 0xFF) {
            result.append(text(data + start, i - start));
            start = i + 1;
        }
    }
    result.append(start < size ? text(data + start, size - start) : QString());
    while (result.size() < count) {
        result.append(QString());
    }
    return result;
}

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace FuzzInput

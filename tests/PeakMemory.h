#pragma once

#include <QFile>
#include <QtGlobal>

#if defined(__SANITIZE_ADDRESS__)
#define TESSIVO_PEAK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSIVO_PEAK_UNDER_ASAN 1
#endif
#endif

// The test process's peak resident memory (Linux's VmHWM), measured from a
// starting point: the peak is set back to the present use first.
class PeakMemory final
{
public:
    PeakMemory()
    {
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5");
        m_start = peakBytes();
    }

#ifdef TESSIVO_PEAK_UNDER_ASAN
    // Freed blocks wait in the sanitizer's quarantine and every block carries
    // red zones: the peak is the sanitizer's, so the plain build checks it.
    static constexpr bool meaningful = false;
#else
    static constexpr bool meaningful = true;
#endif

    // How far the peak rose above the use at the start.
    qint64 rise() const
    {
        return peakBytes() - m_start;
    }

    static qint64 peakBytes()
    {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
        }
        return 0;
    }

private:
    qint64 m_start = 0;
};

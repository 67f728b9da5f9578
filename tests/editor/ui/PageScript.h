#pragma once

#include <QTest>
#include <QVariant>
#include <QWebEnginePage>

// Runs `script` in the page and waits for its result ("<timeout>" when none
// comes within 20 s).
inline QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, TestWaits::limitMs))
        return QStringLiteral("<timeout>");
    return result;
}

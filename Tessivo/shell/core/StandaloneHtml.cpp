#include "shell/core/StandaloneHtml.h"

QString fileExtension(ExportFormat format)
{
    return format == ExportFormat::Markdown ? QStringLiteral("md") : QStringLiteral("html");
}

QString standaloneHTML(const QString &title, const QString &html)
{
    static const QString head =
        QStringLiteral("<!doctype html>\n"
                       "<html lang=\"en\">\n"
                       "<head>\n"
                       "<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<title>");
    static const QString style =
        QStringLiteral("</title>\n"
                       "<style>\n"
                       "body { max-width: 42rem; margin: 3rem auto; padding: 0 1.5rem; font: 16px/1.6 "
                       "-apple-system, system-ui, "
                       "sans-serif; color: #111; }\n"
                       "pre { overflow-x: auto; padding: 1rem; background: #f5f5f5; border-radius: 8px; }\n"
                       "code { font-family: ui-monospace, Menlo, monospace; font-size: 0.9em; }\n"
                       "img { max-width: 100%; }\n"
                       "</style>\n"
                       "</head>\n"
                       "<body>\n");
    static const QString tail = QStringLiteral("\n</body>\n</html>");

    QString escaped = title;
    escaped.replace(u'&', QStringLiteral("&amp;"))
        .replace(u'<', QStringLiteral("&lt;"))
        .replace(u'>', QStringLiteral("&gt;"));
    return head + escaped + style + html + tail;
}

#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessivo"));
    QLabel window(QStringLiteral("Tessivo"));
    window.resize(1200, 780);
    window.show();
    return QApplication::exec();
}

// Writes many documents in one batch, for the test that kills it part-way.
//
//   batchwrite_child <base folder> <count>
#include "store/Document.h"
#include "store/Persistence.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3) {
        return 2;
    }
    QList<Document> documents;
    const QString body = QStringLiteral("# Note\n\n") + QString(4000, u'w');
    for (int i = arguments.at(2).toInt(); i > 0; --i) {
        documents.append(Document(body, std::nullopt));
    }
    Persistence::saveDocuments(documents, arguments.at(1));
    return 0;
}

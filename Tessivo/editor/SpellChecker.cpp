#include "editor/SpellChecker.h"

#include "store/CappedFileRead.h"

#include <hunspell/hunspell.hxx>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QLocale>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringConverter>
#include <QtConcurrent/QtConcurrentRun>

namespace {

constexpr qsizetype cacheLimit = 50000;

struct DictionaryFiles
{
    QString affix;
    QString dictionary;
};

DictionaryFiles systemDictionary()
{
    const QStringList folders = {QStringLiteral("/usr/share/hunspell"), QStringLiteral("/usr/share/myspell"),
                                 QStringLiteral("/usr/share/myspell/dicts")};
    const QStringList names = {QLocale::system().name(), QStringLiteral("en_US"), QStringLiteral("en_GB")};
    for (const QString &name : names) {
        for (const QString &folder : folders) {
            const QString base = folder + u'/' + name;
            if (QFileInfo::exists(base + QStringLiteral(".aff")) &&
                QFileInfo::exists(base + QStringLiteral(".dic"))) {
                return {base + QStringLiteral(".aff"), base + QStringLiteral(".dic")};
            }
        }
    }
    return {};
}

// The personal word list, or nullopt when something is at its path that
// can't be read as one (a pipe, a folder, a file past its bound): the list
// is then not rewritten, so that whatever the user keeps there stays.
std::optional<QStringList> readPersonalList(const QString &path)
{
    const CappedFileRead read = CappedFileRead::read(path, FileBounds::dictionary);
    if (read.status == CappedFileRead::Status::missing) {
        return QStringList();
    }
    if (!read.ok()) {
        qWarning("[editor] the personal word list %s is not read: %s", qPrintable(path),
                 qPrintable(read.error));
        return std::nullopt;
    }
    QStringList words;
    for (const QString &line : QString::fromUtf8(read.data).split(u'\n')) {
        const QString word = line.trimmed();
        if (!word.isEmpty()) {
            words.append(word);
        }
    }
    return words;
}

QStringList appVocabulary()
{
    return {QStringLiteral("Tessivo"), QStringLiteral("Ctrl")};
}

} // namespace

SpellChecker::SpellChecker(const QString &affixPath, const QString &dictionaryPath,
                           const QString &personalListPath, QObject *parent)
    : QObject(parent)
{
    m_personalListPath = personalListPath;
    if (m_personalListPath.isEmpty()) {
        m_personalListPath = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                             QStringLiteral("/dictionary.txt");
    }
    DictionaryFiles files{affixPath, dictionaryPath};
    if (files.affix.isEmpty() || files.dictionary.isEmpty()) {
        files = systemDictionary();
    }
    if (files.affix.isEmpty()) {
        qWarning("[editor] no spelling dictionary found; spelling is not checked");
        return;
    }
    const QString listPath = m_personalListPath;
    m_loading = QtConcurrent::run([files, listPath]() -> Hunspell * {
        auto *hunspell = new Hunspell(QFile::encodeName(files.affix).constData(),
                                      QFile::encodeName(files.dictionary).constData());
        const bool utf8 = QString::fromStdString(hunspell->get_dict_encoding()).toUpper() == u"UTF-8";
        // The app's own words (its name, the key names of its shortcuts in
        // the welcome document) are never marked as misspelled.
        for (const QString &word : readPersonalList(listPath).value_or(QStringList()) + appVocabulary()) {
            hunspell->add(utf8 ? word.toStdString() : word.toLatin1().toStdString());
        }
        return hunspell;
    });
    auto *watcher = new QFutureWatcher<Hunspell *>(this);
    connect(watcher, &QFutureWatcher<Hunspell *>::finished, this, [this, watcher] {
        watcher->deleteLater();
        if (!m_hunspell) {
            adopt(m_loading.result());
        }
    });
    watcher->setFuture(m_loading);
}

SpellChecker::~SpellChecker()
{
    if (!m_hunspell && m_loading.isValid()) {
        m_loading.waitForFinished();
        delete m_loading.result();
    }
}

void SpellChecker::adopt(Hunspell *hunspell)
{
    m_hunspell.reset(hunspell);
    m_utf8 = QString::fromStdString(hunspell->get_dict_encoding()).toUpper() == u"UTF-8";
    m_cache.clear();
    Q_EMIT dictionaryChanged();
}

void SpellChecker::waitUntilReady()
{
    if (!m_hunspell && m_loading.isValid()) {
        m_loading.waitForFinished();
        adopt(m_loading.result());
    }
}

std::string SpellChecker::encode(const QString &word) const
{
    return m_utf8 ? word.toStdString() : word.toLatin1().toStdString();
}

bool SpellChecker::isCorrect(const QString &word)
{
    if (!m_hunspell) {
        return true;
    }
    const auto cached = m_cache.constFind(word);
    if (cached != m_cache.constEnd()) {
        return *cached;
    }
    // Composed characters, and typographic apostrophes spelled as the
    // dictionary's straight one.
    QString normalized = word.normalized(QString::NormalizationForm_C);
    normalized.replace(QChar(0x2019), u'\'');
    const bool correct = m_hunspell->spell(encode(normalized));
    if (m_cache.size() > cacheLimit) {
        m_cache.clear();
    }
    m_cache.insert(word, correct);
    return correct;
}

QStringList SpellChecker::suggestions(const QString &word, int limit)
{
    if (!m_hunspell) {
        return {};
    }
    QStringList result;
    for (const std::string &s : m_hunspell->suggest(encode(word))) {
        result.append(m_utf8 ? QString::fromStdString(s)
                             : QString::fromLatin1(s.data(), qsizetype(s.size())));
        if (result.size() >= limit) {
            break;
        }
    }
    return result;
}

void SpellChecker::addToDictionary(const QString &word)
{
    const QString trimmed = word.trimmed();
    if (trimmed.isEmpty() || trimmed.contains(u'\n')) {
        return;
    }
    std::optional<QStringList> words = readPersonalList(m_personalListPath);
    if (words && !words->contains(trimmed)) {
        words->append(trimmed);
        QDir().mkpath(QFileInfo(m_personalListPath).absolutePath());
        QSaveFile file(m_personalListPath);
        if (file.open(QIODevice::WriteOnly)) {
            file.write((words->join(u'\n') + u'\n').toUtf8());
            if (!file.commit()) {
                qWarning("[editor] failed to save the personal word list");
            }
        }
    }
    if (m_hunspell) {
        m_hunspell->add(encode(trimmed));
    }
    m_cache.insert(trimmed, true);
    Q_EMIT dictionaryChanged();
}

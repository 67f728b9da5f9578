#pragma once

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QStringList>

#include <memory>
#include <optional>

class Hunspell;

// The spelling dictionary: the system's Hunspell dictionary for the user's
// language (English when there is none) plus the user's own word list in the
// application's data folder. Loading runs on the thread pool; until it is
// done every word counts as correct. Main thread only otherwise.
class SpellChecker final : public QObject
{
    Q_OBJECT

public:
    // A checker on the given dictionary files and personal word list (empty
    // paths: the system's dictionary and the data folder's list).
    explicit SpellChecker(const QString &affixPath = {}, const QString &dictionaryPath = {},
                          const QString &personalListPath = {}, QObject *parent = nullptr);
    ~SpellChecker() override;

    bool isReady() const { return m_hunspell != nullptr; }
    // True for known words, and for every word while not ready. Cached.
    bool isCorrect(const QString &word);
    QStringList suggestions(const QString &word, int limit = 8);
    // Accepts `word` from now on and keeps it in the personal word list.
    void addToDictionary(const QString &word);

    QString personalListPath() const { return m_personalListPath; }
    // Blocks until the dictionary is loaded (tests, benchmarks).
    void waitUntilReady();

Q_SIGNALS:
    // The dictionary was loaded or gained a word: checks should run again.
    void dictionaryChanged();

private:
    void adopt(Hunspell *hunspell);
    std::string encode(const QString &word) const;

    std::unique_ptr<Hunspell> m_hunspell;
    QFuture<Hunspell *> m_loading;
    bool m_utf8 = true;
    QString m_personalListPath;
    QHash<QString, bool> m_cache;
};

// The AI menu's state: preset filtering, rows, highlight and submit, the
// change-only notifications and the menu's height.
#include "assistant/core/AIMenuModel.h"
#include "assistant/core/AIPlacement.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestAIMenuModel : public QObject
{
    Q_OBJECT

    static QStringList ids(const QList<RefineAction> &actions)
    {
        QStringList result;
        for (const RefineAction &action : actions)
            result << action.id;
        return result;
    }

private Q_SLOTS:
    void filter_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("ids");
        QTest::newRow("keywords match") << u"short"_s << QStringList{u"condense"_s};
        QTest::newRow("prefix, then substring, then letters in order")
            << u"re"_s
            << QStringList{u"announcement"_s, u"thread"_s,    u"rephrase"_s, u"positive"_s, u"fix-grammar"_s,
                           u"expand"_s,       u"structure"_s, u"improve"_s,  u"condense"_s, u"punchier"_s};
        QTest::newRow("a line break matches nothing") << u"\n"_s << QStringList{};
    }

    void filter()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, ids);
        QCOMPARE(TestAIMenuModel::ids(RefineAction::filtered(query)), ids);
    }

    void rowsAndSubmit()
    {
        AIMenuModel model;
        QSignalSpy presets(&model, &AIMenuModel::presetChosen);
        QSignalSpy custom(&model, &AIMenuModel::customChosen);

        QCOMPARE(model.rowCount(), 11);
        model.submit();
        QCOMPARE(presets.takeFirst().at(0).value<RefineAction>().id, u"fix-grammar"_s);
        model.moveSelection(-1);
        QCOMPARE(model.selection(), 10);
        model.moveSelection(1);
        QCOMPARE(model.selection(), 0);

        // Typed text offers itself first; retyping puts the highlight back there.
        model.setQuery(u"shorter"_s);
        QVERIFY(model.showsCustomRow());
        model.moveSelection(1);
        model.submit();
        QCOMPARE(presets.takeFirst().at(0).value<RefineAction>().id, u"condense"_s);
        model.setQuery(u"shorter"_s);
        QCOMPARE(model.selection(), 0);
        model.submit();
        QCOMPARE(custom.size(), 1);

        model.setQuery(u"xyz"_s);
        QCOMPARE(model.rowCount(), 1);
        model.moveSelection(1);
        QCOMPARE(model.selection(), 0);

        // No rows at all: nothing moves and nothing runs.
        model.setQuery(u"\n"_s);
        QCOMPARE(model.rowCount(), 0);
        model.moveSelection(1);
        model.submit();
        QCOMPARE(presets.size() + custom.size(), 1);

        model.setGenerate(true);
        model.setSelection(3);
        model.submit();
        QCOMPARE(custom.size(), 2);
        QCOMPARE(model.rowCount(), 0);
    }

    void notifiesOnlyChanges()
    {
        AIMenuModel model;
        QSignalSpy relayout(&model, &AIMenuModel::relayoutRequested);
        QSignalSpy phase(&model, &AIMenuModel::phaseChanged);
        QSignalSpy header(&model, &AIMenuModel::headerHeightChanged);
        model.setHeaderHeight(44);
        QCOMPARE(relayout.size() + header.size(), 0);
        model.setPhase(AIMenuModel::Phase::idle());
        QCOMPARE(phase.size(), 0);
        QCOMPARE(relayout.size(), 1); // the phase always asks for a layout
        model.setPhase(AIMenuModel::Phase::error(u"x"_s));
        QCOMPARE(phase.size(), 1);
    }

    void menuHeight_data()
    {
        QTest::addColumn<bool>("generate");
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("phase");
        QTest::addColumn<double>("header");
        QTest::addColumn<int>("height");
        const int idle = int(AIMenuModel::Phase::Kind::Idle);
        QTest::newRow("all presets count eight rows") << false << QString() << idle << 44.0 << 328;
        QTest::newRow("only the custom row") << false << u"xyz"_s << idle << 44.0 << 90;
        QTest::newRow("an error adds its row")
            << false << u"xyz"_s << int(AIMenuModel::Phase::Kind::Error) << 44.0 << 130;
        QTest::newRow("generate grows with its header") << true << QString() << idle << 100.0 << 150;
    }

    void menuHeight()
    {
        QFETCH(bool, generate);
        QFETCH(QString, query);
        QFETCH(int, phase);
        QFETCH(double, header);
        QFETCH(int, height);
        AIMenuModel model;
        model.setGenerate(generate);
        model.setQuery(query);
        model.setPhase({AIMenuModel::Phase::Kind(phase), u"x"_s});
        model.setHeaderHeight(header);
        QCOMPARE(AIPlacement::menuHeight(model), height);
    }
};

QTEST_GUILESS_MAIN(TestAIMenuModel)
#include "tst_aimenumodel.moc"

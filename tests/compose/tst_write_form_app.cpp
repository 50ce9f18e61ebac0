#include "app/AppWindows.h"
#include "compose/WriteForm.h"
#include "panel/FloatingForm.h"
#include "reply/BackForm.h"
#include "panel/MainForm.h"
#include "storage/AppState.h"
#include "winutil/Prompt.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

using namespace Qt::StringLiterals;
using namespace hollin;

// The compose window with the program's own window owner and control panel.
class TestWriteFormApp : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_state = std::make_unique<AppState>();
        m_state->root = DataRoot(m_dir->path());
        QVERIFY(m_state->root.ensureTree());
        m_windows = std::make_unique<AppWindows>(*m_state);
        Prompt::beginScript();
    }
    void cleanup()
    {
        m_windows.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Prompt::endScript();
    }

    void helpBoxFollowsThePanel_data()
    {
        QTest::addColumn<bool>("help");
        QTest::addColumn<int>("topTwips");
        QTest::newRow("説明表示 on") << true << 3600;
        QTest::newRow("説明表示 off") << false << -4000;
    }
    void helpBoxFollowsThePanel()
    {
        QFETCH(bool, help);
        QFETCH(int, topTwips);
        auto *panelCheck = static_cast<QWidget *>(m_windows->mainForm())->findChild<QCheckBox *>(u"Check1"_s);
        QVERIFY(panelCheck);
        panelCheck->setChecked(help);
        WriteForm *form = m_windows->writeForm();
        const int top = form->findChild<QPlainTextEdit *>(u"Text14"_s)->y();
        QCOMPARE(top, qRound(topTwips * form->logicalDpiX() / 1440.0));
    }

    void closingUnloadsAndShowsTheFloatingWindows()
    {
        m_windows->hideFloatingWindows();
        WriteForm *form = m_windows->writeForm();
        form->show();
        QTest::mouseClick(form->findChild<QPushButton *>(u"Command3"_s), Qt::LeftButton);
        for (int n = 1; n <= 5; ++n)
            QVERIFY(static_cast<QWidget *>(m_windows->floatingForm(n))->isVisible());
        QTRY_VERIFY(!m_windows->isLoaded("WriteForm"));
        // The next use loads a fresh window.
        QVERIFY(m_windows->writeForm() != nullptr);
        QVERIFY(m_windows->isLoaded("WriteForm"));
    }

    // A screen reader names every text field of the compose and reply windows.
    void textFieldsHaveAccessibleNames()
    {
        for (QWidget *form : {static_cast<QWidget *>(m_windows->writeForm()), static_cast<QWidget *>(m_windows->backForm())}) {
            const auto fields = form->findChildren<QWidget *>();
            for (QWidget *field : fields) {
                const bool typedInto = qobject_cast<QLineEdit *>(field) || qobject_cast<QTextEdit *>(field)
                    || qobject_cast<QPlainTextEdit *>(field) || qobject_cast<QComboBox *>(field);
                if (!typedInto || qobject_cast<QComboBox *>(field->parentWidget()))
                    continue; // a combo box's own line is named by the combo box
                QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(field);
                QVERIFY2(accessible && !accessible->text(QAccessible::Name).isEmpty(),
                         qPrintable(form->objectName() + u' ' + field->objectName()));
            }
        }
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<AppWindows> m_windows;
};

QTEST_MAIN(TestWriteFormApp)
#include "tst_write_form_app.moc"

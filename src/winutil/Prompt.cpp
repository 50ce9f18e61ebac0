#include "Prompt.h"

#include "WindowStacking.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QQueue>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

struct Script {
    bool active = false;
    QQueue<Prompt::Answer> answers;
    QQueue<QString> fileNames;
    QQueue<int> colours;
    QQueue<std::function<void(QPrinter &)>> printerSetups;
    QList<Prompt::Shown> shown;
};

Script &script()
{
    static Script s;
    return s;
}

void record(Prompt::Kind kind, const QString &title, const QString &text)
{
    script().shown.append({kind, title, text});
}

QMessageBox::Icon toQt(Prompt::Icon icon)
{
    switch (icon) {
    case Prompt::Icon::Information: return QMessageBox::Information;
    case Prompt::Icon::Warning: return QMessageBox::Warning;
    case Prompt::Icon::Critical: return QMessageBox::Critical;
    case Prompt::Icon::Question: return QMessageBox::Question;
    case Prompt::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

int toBgr(const QColor &c)
{
    return c.red() | (c.green() << 8) | (c.blue() << 16);
}

QColor fromBgr(int bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

QString runFileDialog(QWidget *parent, const QString &title, const QString &folder, const QString &filter,
                      QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    keepAbove(&dialog, parent);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace

QString Prompt::programTitle() { return u"Hollin"_s; }
QString Prompt::confirmTitle() { return u"確認"_s; }

void Prompt::message(QWidget *parent, const QString &text, const QString &title, Icon icon)
{
    const QString shownTitle = title.isEmpty() ? programTitle() : title;
    record(Kind::Message, shownTitle, text);
    if (script().active)
        return;
    QMessageBox box(toQt(icon), shownTitle, text, QMessageBox::Ok, parent);
    keepAbove(&box, parent);
    box.exec();
}

bool Prompt::ask(QWidget *parent, const QString &text, const QString &title)
{
    record(Kind::Question, title, text);
    if (script().active)
        return script().answers.isEmpty() || script().answers.dequeue() == Answer::Yes;
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    keepAbove(&box, parent);
    return box.exec() == QMessageBox::Yes;
}

Prompt::Answer Prompt::askYesNoCancel(QWidget *parent, const QString &text, const QString &title)
{
    record(Kind::YesNoCancel, title, text);
    if (script().active)
        return script().answers.isEmpty() ? Answer::Yes : script().answers.dequeue();
    QMessageBox box(QMessageBox::Question, title, text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    keepAbove(&box, parent);
    switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    default: return Answer::Cancel;
    }
}

QString Prompt::openFileName(QWidget *parent, const QString &title, const QString &folder,
                             const QString &filter)
{
    record(Kind::OpenFile, title, folder);
    if (script().active)
        return script().fileNames.isEmpty() ? QString() : script().fileNames.dequeue();
    return runFileDialog(parent, title, folder, filter, QFileDialog::AcceptOpen);
}

QString Prompt::saveFileName(QWidget *parent, const QString &title, const QString &folder,
                             const QString &filter)
{
    record(Kind::SaveFile, title, folder);
    if (script().active)
        return script().fileNames.isEmpty() ? QString() : script().fileNames.dequeue();
    return runFileDialog(parent, title, folder, filter, QFileDialog::AcceptSave);
}

int Prompt::colour(QWidget *parent, int initial)
{
    record(Kind::Colour, QString(), QString());
    if (script().active)
        return script().colours.isEmpty() ? -1 : script().colours.dequeue();
    QColorDialog dialog(initial >= 0 ? fromBgr(initial) : QColor(Qt::white), parent);
    keepAbove(&dialog, parent);
    for (int i = 0; i < QColorDialog::customCount(); ++i)
        QColorDialog::setCustomColor(i, QColor(Qt::white));
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    return toBgr(dialog.selectedColor());
}

bool Prompt::print(QWidget *parent, QPrinter *printer, bool hasSelection)
{
    record(Kind::Print, QString(), QString());
    if (script().active) {
        if (script().printerSetups.isEmpty())
            return false;
        script().printerSetups.dequeue()(*printer);
        return true;
    }
    QPrintDialog dialog(printer, parent);
    keepAbove(&dialog, parent);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, hasSelection);
    if (hasSelection)
        dialog.setPrintRange(QAbstractPrintDialog::Selection);
    return dialog.exec() == QDialog::Accepted;
}

void Prompt::beginScript()
{
    script() = Script{};
    script().active = true;
}

void Prompt::endScript() { script() = Script{}; }
bool Prompt::isScripted() { return script().active; }
void Prompt::queueAnswer(Answer answer) { script().answers.enqueue(answer); }
void Prompt::queueFileName(const QString &path) { script().fileNames.enqueue(path); }
void Prompt::queueColour(int colour) { script().colours.enqueue(colour); }
void Prompt::queuePrinterSetup(const std::function<void(QPrinter &)> &setup) { script().printerSetups.enqueue(setup); }
QList<Prompt::Shown> Prompt::shown() { return script().shown; }
void Prompt::clearShown() { script().shown.clear(); }

QStringList Prompt::shownTexts()
{
    QStringList texts;
    for (const Shown &s : script().shown)
        texts << s.text;
    return texts;
}

} // namespace hollin

#include "Prompt.h"

#include "WindowStacking.h"
#include "WindowUtil.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QQueue>
#include <QShowEvent>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

struct Script {
    bool active = false;
    QQueue<Prompt::Answer> answers;
    QQueue<QString> fileNames;
    QQueue<int> colours;
    QQueue<std::function<void()>> whileOpen;
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

// A box of something that happened in the background: placed, once it has
// taken its size and before it is mapped, away from the window the user types in.
class NoticeBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event);
        if (!event->spontaneous())
            placeAwayFromActiveWindow(this);
    }
};

// Shows box modally and returns its result. The box is on the heap and
// watched: while it is open the event loop runs other handlers, which may
// delete its parent and so the box with it; it then counts as cancelled.
// While scripted it is not shown: a queued whileOpen runs instead (or
// nothing), and the result is -1.
int runBox(QDialog *box, QWidget *parent)
{
    const QPointer<QDialog> guard(box);
    keepAbove(box, parent);
    int result = -1;
    if (!script().active)
        result = box->exec();
    else if (!script().whileOpen.isEmpty())
        script().whileOpen.dequeue()();
    if (!guard)
        return QDialog::Rejected;
    delete box;
    return result;
}

QString runFileDialog(QWidget *parent, const QString &title, const QString &folder, const QString &filter,
                      QFileDialog::AcceptMode mode)
{
    auto *dialog = new QFileDialog(parent, title, folder, filter);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    QString chosen;
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [&chosen](const QString &path) { chosen = path; });
    if (runBox(dialog, parent) != QDialog::Accepted)
        return {};
    return chosen;
}

} // namespace

QString Prompt::programTitle() { return u"Hollin"_s; }
QString Prompt::confirmTitle() { return u"確認"_s; }

void Prompt::message(QWidget *parent, const QString &text, const QString &title, Icon icon)
{
    const QString shownTitle = title.isEmpty() ? programTitle() : title;
    record(Kind::Message, shownTitle, text);
    auto *box = new QMessageBox(toQt(icon), shownTitle, text, QMessageBox::Ok, parent);
    // A path or a server's reply in the text can be copied.
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    runBox(box, parent);
}

void Prompt::notice(const QString &text, const QString &title, Icon icon)
{
    const QString shownTitle = title.isEmpty() ? programTitle() : title;
    record(Kind::Message, shownTitle, text);
    if (script().active)
        return;
    auto *box = new NoticeBox(toQt(icon), shownTitle, text, QMessageBox::Ok);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    box->setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    box->setWindowModality(Qt::NonModal);
    keepAbove(box, nullptr);
    box->show();
}

bool Prompt::ask(QWidget *parent, const QString &text, const QString &title)
{
    record(Kind::Question, title, text);
    auto *box = new QMessageBox(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box->setDefaultButton(QMessageBox::Yes);
    const int result = runBox(box, parent);
    if (script().active)
        return script().answers.isEmpty() || script().answers.dequeue() == Answer::Yes;
    return result == QMessageBox::Yes;
}

Prompt::Answer Prompt::askYesNoCancel(QWidget *parent, const QString &text, const QString &title)
{
    record(Kind::YesNoCancel, title, text);
    const int result = runBox(new QMessageBox(QMessageBox::Question, title, text,
                                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent),
                              parent);
    if (script().active)
        return script().answers.isEmpty() ? Answer::Yes : script().answers.dequeue();
    switch (result) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    default: return Answer::Cancel;
    }
}

Prompt::Answer Prompt::askWithButtons(QWidget *parent, const QString &text, const QString &yes, const QString &no,
                                      const QString &cancel, const QString &title)
{
    record(Kind::YesNoCancel, title, text);
    auto *box = new QMessageBox(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QAbstractButton *yesButton = box->addButton(yes, QMessageBox::AcceptRole);
    QAbstractButton *noButton = no.isEmpty() ? nullptr : box->addButton(no, QMessageBox::DestructiveRole);
    box->setDefaultButton(box->addButton(cancel, QMessageBox::RejectRole));
    QAbstractButton *clicked = nullptr;
    QObject::connect(box, &QMessageBox::buttonClicked, box, [&clicked](QAbstractButton *b) { clicked = b; });
    runBox(box, parent);
    if (script().active)
        return script().answers.isEmpty() ? Answer::Yes : script().answers.dequeue();
    if (clicked && clicked == yesButton)
        return Answer::Yes;
    if (clicked && clicked == noButton)
        return Answer::No;
    return Answer::Cancel;
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
    auto *dialog = new QColorDialog(initial >= 0 ? fromBgr(initial) : QColor(Qt::white), parent);
    for (int i = 0; i < QColorDialog::customCount(); ++i)
        QColorDialog::setCustomColor(i, QColor(Qt::white));
    QColor chosen;
    QObject::connect(dialog, &QColorDialog::colorSelected, dialog, [&chosen](const QColor &c) { chosen = c; });
    if (runBox(dialog, parent) != QDialog::Accepted || !chosen.isValid())
        return -1;
    return toBgr(chosen);
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
    auto *dialog = new QPrintDialog(printer, parent);
    dialog->setOption(QAbstractPrintDialog::PrintSelection, hasSelection);
    if (hasSelection)
        dialog->setPrintRange(QAbstractPrintDialog::Selection);
    return runBox(dialog, parent) == QDialog::Accepted;
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
void Prompt::queueWhileOpen(const std::function<void()> &whileOpen) { script().whileOpen.enqueue(whileOpen); }
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

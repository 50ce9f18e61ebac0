#include "MailtoCompose.h"

#include "InstanceChannel.h"
#include "MailtoUrl.h"
#include "compose/MailFields.h"
#include "compose/WriteForm.h"
#include "panel/MainForm.h"
#include "winutil/Prompt.h"
#include "winutil/Windows.h"

#include <QLineEdit>

#include <memory>
#include <utility>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

void raise(QWidget *w)
{
    w->show();
    w->raise();
    w->activateWindow();
}

} // namespace

void composeMailto(Windows &windows, const MailtoUrl &mailto)
{
    const bool wasOpen = windows.loaded("WriteForm") != nullptr;
    WriteForm *form = windows.writeForm();
    auto *to = form->findChild<QLineEdit *>(u"ToText"_s);
    Q_ASSERT(to);

    if (wasOpen) {
        raise(form);
        if (form->isSending()) {
            Prompt::message(form, u"送信中のため、メールのリンクを開けません。送信が終わってから開き直してください。"_s);
            return;
        }
        if (!form->fields().mayReplace())
            return;
    }

    raise(form);
    windows.hideFloatingWindows();

    // The recipient box takes one line; what does not fit is not cut short
    // silently, since a shortened address would send the mail elsewhere.
    const QString recipients = mailto.to.join(u',');
    const bool fits = recipients.size() <= to->maxLength();
    // The whole mail is replaced: no attachment, copy or whole-address-book
    // mode of the one written before stays with the link's addresses.
    MailDraft mail{fits ? recipients : QString(), mailto.subject, mailto.body};
    mail.cc = mailto.cc.join(u", "_s);
    mail.bcc = mailto.bcc.join(u", "_s);
    form->fields().replace(mail);
    if (!fits)
        Prompt::message(form, u"宛先が長すぎて入りません。宛先を確かめて入力してください。\n"_s + recipients, {},
                        Prompt::Icon::Warning);
}

void answerLaterStarts(InstanceChannel &channel, Windows &windows, const QList<MailtoUrl> &atStart)
{
    auto linked = std::make_shared<bool>(false); // the start being answered brought a link
    QObject::connect(&channel, &InstanceChannel::linkReceived, &channel, [&windows, linked](const QString &link) {
        if (const std::optional<MailtoUrl> mailto = MailtoUrl::parse(link)) {
            composeMailto(windows, *mailto);
            *linked = true;
        }
    });
    QObject::connect(&channel, &InstanceChannel::activationRequested, &channel,
                     [&windows, linked](const QString &token) {
                         if (!std::exchange(*linked, false)) {
                             // Wayland's activation reads the token when the window asks to be raised.
                             if (!token.isEmpty())
                                 qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
                             raise(windows.mainForm());
                         }
                     });
    for (const MailtoUrl &mailto : atStart)
        composeMailto(windows, mailto);
}

} // namespace hollin

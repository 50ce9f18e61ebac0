#pragma once

#include <QList>

namespace hollin {

class InstanceChannel;
class Windows;
struct MailtoUrl;

// Opens the compose window filled from a mailto: link, as the floating
// "新規作成" button does, and brings it to the front. A mail being written there
// is replaced only when the user agrees (the windows' one question about
// unsent content), as an edit 元に戻す undoes; a send in progress is left alone.
void composeMailto(Windows &windows, const MailtoUrl &mailto);

// Opens the links given at start; then answers every later start: its links
// are opened, and without one the panel comes to the front (with the
// desktop's activation token, so that it is allowed to).
void answerLaterStarts(InstanceChannel &channel, Windows &windows, const QList<MailtoUrl> &atStart);

} // namespace hollin

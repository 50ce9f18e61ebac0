#pragma once

namespace hollin {

class DataRoot;
class Windows;

// At start: when the last run ended (a crash, a kill, a power cut) while a
// compose or reply window held a mail not yet sent or held, asks
// "前回、送信されなかったメールがあります。開きますか？" and opens each such mail
// in its window again; declined, the kept mails are removed.
void offerUnsentDrafts(Windows &windows, const DataRoot &root);

} // namespace hollin

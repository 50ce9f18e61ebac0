#pragma once

namespace hollin {

class DataRoot;
class Windows;

// At start: when the last run ended (a crash, a kill, a power cut) while a
// compose or reply window held a mail not yet sent or held, or mails were put
// off before, asks "前回、送信されなかったメールがあります。開きますか？" with 開く
// (each window gets its mail again; further ones wait for the next start),
// あとで (kept and asked again at the next start) and 破棄 (removed).
void offerUnsentDrafts(Windows &windows, const DataRoot &root);

} // namespace hollin

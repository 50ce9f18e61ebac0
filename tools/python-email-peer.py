#!/usr/bin/env python3
"""What CPython's email package (policy default) reads from the regression
mails in tests/data/mail, checked against the values Hollin's tests expect
(tests/transport/tst_mail_decoder.cpp). Prints one line per mail and the count;
the figures go into tests/data/mail/README.md as the peer result."""
import email, os
from email import policy

D = os.path.join(os.path.dirname(__file__), "..", "tests", "data", "mail")
# file: (subject, from, text the body must hold, attachment names or None)
EXPECTED = {
    "iso2022jp-nec-ibm-characters.eml": ("①㈱Ⅰ髙橋", "高橋 <takahashi@example.jp>", "①㈱Ⅰ髙橋", None),
    "encoded-word-split-inside-character.eml": ("テスト", "日本 <split@example.jp>", "split words", None),
    "raw-shift-jis-header.eml": ("見積書①～③の件", "髙橋 一郎 <ichiro@example.jp>", "よろしくお願いします～", None),
    "charset-label-contradicted-by-bytes.eml": ("■緊急のお知らせ■", "wrong@example.jp", "本文はシフトJISです。", None),
    "iso2022jp-halfwidth-katakana.eml": ("ｶﾅ", "kana@example.jp", "ｶﾅ ｱかな", None),
    "utf8-label-last-character-cut.eml": ("会議の時間について", "佐藤 <sato@example.jp>", "会議は十時からです。", None),
    "raw-shift-jis-filename.eml": ("申込書の送付", "form@example.jp", "申込書を添付します。", ["申込書.xls"]),
    "shift-jis-backslash-byte-in-quotes.eml": ("予定表の件", "能登データ機構 <info@noto.example.jp>", "来月の予定表です。", ["予定表_機構"]),
    "iso2022jp-pair-without-cp932-character.eml": ("テスト\ufffd", "jis@example.jp", "あ\ufffdい", None),
    "iso2022jp-2-designations-and-single-shift.eml": ("Café 日本", "multi@example.jp", "Café au lait 日本語 中文 한국", None),
    "unlabelled-halfwidth-katakana.eml": ("ｱﾝｹｰﾄﾉ ｺﾞｱﾝﾅｲ", "kana@example.jp", "ｱﾝｹｰﾄﾉ ｺﾞｱﾝﾅｲ ｺﾁﾗｶﾗﾄﾞｳｿﾞ", None),
    "format-flowed-delsp-yes.eml": ("お知らせ", "apple@example.jp", "来週の打ち合わせは予定どおり十四時から第二会議室で行います。", None),
    "format-flowed-without-delsp.eml": ("flowed", "flowed@example.jp", "Thunderbird wraps long lines at spaces; 日本語も 続きます。", None),
    "html-latin1-label-shift-jis-meta.eml": ("ご注文ありがとうございます", "shop@example.jp", "発送は明日です。", None),
    "filename-with-slash.eml": ("経費精算", "keiri@example.jp", "三月分です。", ["経費精算_2024／03分.csv", "書類＼備考＼メモ.txt"]),
    "decomposed-kana-from-mac.eml": ("パンフレットとガイドブック", "ブルーパーク <mac@example.jp>", "パンフレットを送ります。", ["パンフレット.pdf"]),
    "iso2022jp-roman-yen-sign.eml": ("価格 ¥980", "ec@example.jp", "価格：¥1,980 (C:\\path)", None),
    "subject-characters-cp932-lacks.eml": ("𠮷野家で打ち上げ🍺", "森鷗外 <ogai@example.jp>", "金曜日の十九時からです。", None),
    "nul-byte-in-body.eml": ("NUL", "nul@example.jp", "後半も残ります。", None),
    "utf16le-body-without-bom.eml": ("UTF-16", "utf16@example.jp", "Hello 世界", None),
    "q-word-dangling-equals.eml": ("日本語", "山田 <yamada@example.jp>, 佐藤 <sato@example.jp>", "dangling", None),
    "q-escape-split-between-words.eml": ("日本", "£ Shop <shop@example.jp>", "split", None),
    "utf7-labels-and-comma-for-slash.eml": ("日本語", "アイテ <utf7@example.jp>", "データを送ります", None),
    "delivery-status-only.eml": ("Returned mail", "MAILER-DAEMON@example.jp", "550 配送できませんでした", None),
    "filename-parameters-broken.eml": ("files", "files@example.jp", "three files", ["見積書.pdf", "請求書.xlsx", "売上;月別.csv"]),
    "utf8-word-one-invalid-byte.eml": ("(\ufffd)", "(\ufffd) <broken@example.jp>", "broken", None),
    "utf16-without-bom-japanese-only.eml": ("日本語のお知らせ", "utf16ja@example.jp", "資料をお送りします。", None),
}

def read(name):
    with open(os.path.join(D, name), "rb") as f:
        msg = email.message_from_bytes(f.read(), policy=policy.default)
    try:
        part = msg.get_body(preferencelist=("plain", "html"))
        body = part.get_content() if part else ""
    except Exception as e:  # an unknown charset or a broken part
        body = "<%s>" % type(e).__name__
    names = [p.get_filename() for p in msg.iter_attachments()]
    return str(msg["subject"]), str(msg["from"]), body, names

ok = 0
for name, (subject, sender, text, files) in EXPECTED.items():
    got = read(name)
    checks = [got[0] == subject, got[1] == sender, text in got[2], files is None or got[3] == files]
    good = all(checks)
    ok += good
    print(("ok  " if good else "BAD ") + name + ("" if good else "  " + repr(got)[:160]))
print("Python email: %d of %d" % (ok, len(EXPECTED)))

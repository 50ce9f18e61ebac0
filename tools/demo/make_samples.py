#!/usr/bin/python3
"""Writes the demo mailbox: a dozen Japanese mails of the project's own making,
in the charsets Japanese mailers use (ISO-2022-JP, Shift_JIS, UTF-8), one with
attachments and one in HTML only. Usage: make_samples.py OUTDIR ADDRESS"""
import base64
import sys
from email.header import Header
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.utils import formataddr, formatdate
from pathlib import Path

out = Path(sys.argv[1])
to = sys.argv[2]
out.mkdir(parents=True, exist_ok=True)

SENDERS = [
    ("山田 太郎", "taro@example.jp"),
    ("佐藤 花子", "hanako@example.jp"),
    ("鈴木 一郎", "ichiro@example.co.jp"),
    ("高橋 美咲", "misaki@example.ne.jp"),
    ("田中 健", "ken@example.jp"),
    ("渡辺 さくら", "sakura@example.or.jp"),
]

MAILS = [
    ("iso-2022-jp", "打ち合わせの日程について", "お疲れさまです。山田です。\n\n来週の打ち合わせですが、水曜日の午後二時からでいかがでしょうか。\n会議室は三階の第二会議室を予約しておきます。\n\nよろしくお願いします。"),
    ("iso-2022-jp", "【ご案内】忘年会のお知らせ", "皆さま\n\n今年も忘年会を開きます。\n日時：十二月二十日（金）十九時から\n場所：駅前の和食店「さくら」\n会費：五千円\n\n出欠を今週中にお知らせください。"),
    ("shift_jis", "見積書送付のお願い～至急～", "いつもお世話になっております。\n\n先日ご相談した件について、見積書を①本日中、②遅くとも明日の午前中にお送りいただけますでしょうか。\n\n㈱サンプル商事　鈴木"),
    ("shift_jis", "ｱﾝｹｰﾄご協力のお願い", "半角カナの件名のテストを兼ねています。\nｱﾝｹｰﾄは五分ほどで終わります。\nご協力をお願いいたします。"),
    ("utf-8", "写真を送ります 📷", "先週の旅行の写真です。\n絵文字😀のようにシフトJISにない文字も入っています。\n髙橋さんにもよろしく。"),
    ("utf-8", "Re: 来月の予定", "了解しました。\n\n> 来月の第一週は出張で不在です。\n> 代わりの担当者を決めておいてください。\n\nでは、田中さんにお願いしておきます。"),
    ("iso-2022-jp", "年末年始の営業について", "年末年始の営業日をお知らせします。\n\n十二月二十八日から一月三日までお休みをいただきます。\n一月四日から通常どおり営業いたします。"),
    ("shift_jis", "ⅠからⅢまでの資料", "資料Ⅰ・Ⅱ・Ⅲをまとめました。\nご確認ください。\n\n※Ⅲは来週差し替えます。"),
    ("utf-8", "English and 日本語", "This mail mixes English and Japanese.\nこのメールは英語と日本語が混ざっています。\n"),
    ("iso-2022-jp", "お礼", "昨日はありがとうございました。\nとても楽しい時間を過ごせました。\nまたお会いできるのを楽しみにしています。"),
]


def text_part(body, charset):
    body = body.replace("\n", "\r\n")
    if charset == "shift_jis":
        # Python sends Shift_JIS as ISO-2022-JP; Windows mailers send CP932 bytes labelled Shift_JIS
        part = MIMEApplication(body.encode("cp932"), "octet-stream")
        part.replace_header("Content-Type", 'text/plain; charset="Shift_JIS"')
        return part
    return MIMEText(body, "plain", charset)


def encoded_word(text, charset):
    if charset == "shift_jis":
        return "=?Shift_JIS?B?%s?=" % base64.b64encode(text.encode("cp932")).decode("ascii")
    return Header(text, charset).encode()


def headers(msg, n, charset, subject):
    name, addr = SENDERS[n % len(SENDERS)]
    msg["Subject"] = encoded_word(subject, charset)
    msg["From"] = formataddr((encoded_word(name, charset), addr))
    msg["To"] = to
    msg["Date"] = formatdate(1765000000 + n * 3600, localtime=False)
    msg["Message-ID"] = "<demo-%d@hollin.example>" % n


for n, (charset, subject, body) in enumerate(MAILS, 1):
    msg = text_part(body, charset)
    headers(msg, n, charset, subject)
    (out / ("%02d.eml" % n)).write_bytes(msg.as_bytes())

# with two attachments: a Japanese-named text file and a small binary
n = len(MAILS) + 1
msg = MIMEMultipart()
headers(msg, n, "iso-2022-jp", "資料を添付します")
msg.attach(text_part("会議の資料を二つ添付します。\nご確認ください。", "iso-2022-jp"))
memo = MIMEApplication("議事録\r\n一、予算について\r\n二、日程について\r\n".encode("cp932"), "octet-stream")
memo.add_header("Content-Disposition", "attachment", filename=("utf-8", "", "議事録.txt"))
msg.attach(memo)
data = MIMEApplication(bytes(range(256)) * 4, "octet-stream")
data.add_header("Content-Disposition", "attachment", filename="data.bin")
msg.attach(data)
(out / ("%02d.eml" % n)).write_bytes(msg.as_bytes())

# HTML only
n += 1
msg = MIMEText("<html><body><h1>ニュースレター</h1><p>今月の<b>お知らせ</b>です。</p><p>新しい機能が追加されました。</p></body></html>", "html", "utf-8")
headers(msg, n, "utf-8", "ニュースレター 十二月号")
(out / ("%02d.eml" % n)).write_bytes(msg.as_bytes())

#include "Greetings.h"

#include <QRandomGenerator>

using namespace Qt::StringLiterals;

namespace hollin {

QStringList Greetings::phrases()
{
    return {
        u"御社益々ご清祥の事とお慶び申し上げます。"_s,
        u"平素のご愛顧誠にありがとうございます。"_s,
        u"平素は格別のご愛顧を賜り深謝申し上げます。"_s,
        u"いつもお世話になっております。"_s,
        u"メールありがとうございました。確かに受け取りました。"_s,
        u"はじめまして、突然のメールで恐縮です。"_s,
        u"こんにちわ。はじめてメールいたします。"_s,
        u"こんにちわ。お変わりなく、お元気ですか？"_s,
    };
}

QStringList Greetings::fortunes()
{
    return {
        u"今日の運勢：大吉　思いがけない便りが届きます。"_s,
        u"今日の運勢：大吉　願い事は早めに口にすると叶います。"_s,
        u"今日の運勢：中吉　久しぶりの友人に連絡してみましょう。"_s,
        u"今日の運勢：中吉　午後から運気が上がります。"_s,
        u"今日の運勢：小吉　小さな親切が大きく返ってきます。"_s,
        u"今日の運勢：小吉　身の回りの整理整頓が吉。"_s,
        u"今日の運勢：吉　　丁寧な言葉遣いが信頼を呼びます。"_s,
        u"今日の運勢：吉　　温かい飲み物で一息つきましょう。"_s,
        u"今日の運勢：末吉　焦らず一歩ずつ進めば道が開けます。"_s,
        u"今日の運勢：末吉　忘れ物に気をつけましょう。"_s,
        u"今日の運勢：凶　　無理は禁物、早めに休みましょう。"_s,
        u"今日の運勢：大吉　笑顔が幸運を呼び込みます。"_s,
        u"今日の運勢：中吉　散歩の途中に良い発見があります。"_s,
        u"今日の運勢：吉　　手書きの一言が喜ばれます。"_s,
    };
}

QString Greetings::randomFortune()
{
    const QStringList all = fortunes();
    return all.at(QRandomGenerator::global()->bounded(int(all.size())));
}

QString Greetings::withFortune(const QString &body, const QString &fortune)
{
    return body + u"\n\n"_s + fortune;
}

QString Greetings::codeWord()
{
    return u"kuma"_s;
}

bool Greetings::isCodeWord(const QString &recipientText)
{
    return recipientText == codeWord();
}

} // namespace hollin

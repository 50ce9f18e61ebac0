#include "MailSearch.h"

#include "Cp932.h"
#include "FileIo.h"

#include <QStringView>

#include <algorithm>
#include <fcntl.h>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace hollin {

namespace {

using uchar = unsigned char;

constexpr int RecordSize = MailRecordFile::RecordSize;
// Where each text field ends: Subject, Date, Address, Body. The line end and
// the live flag after the body are not text.
constexpr int FieldEnds[] = {MailRecordFile::SubjectWidth,
                             MailRecordFile::SubjectWidth + MailRecordFile::DateWidth,
                             MailRecordFile::HeadSize, MailRecordFile::HeadSize + MailRecordFile::BodyWidth};
constexpr int TextEnd = FieldEnds[3];
constexpr int FlagOffset = RecordSize - 2;
constexpr int ChunkRecords = 32; // about 1 MB per read
// The most byte strings the fast scan looks for at once.
constexpr int MaxNeedles = 4;

constexpr uchar VoicedMark = 0xDE;     // ﾞ
constexpr uchar SemiVoicedMark = 0xDF; // ﾟ

bool isLeadByte(uchar b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The full-width forms of U+FF61 … U+FF9F.
constexpr char16_t FullWidthOfHalf[] =
    u"。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜";
static_assert(std::size(FullWidthOfHalf) == 0xFF9F - 0xFF61 + 2);

// The character a sound mark (ﾞ or ﾟ, as CP932 byte or as U+FF9E/U+FF9F) makes
// of a full-width katakana; 0 when they do not combine.
char16_t withSoundMark(char16_t kana, char16_t mark)
{
    static constexpr QStringView voiceable = u"カキクケコサシスセソタチツテトハヒフヘホ";
    static constexpr QStringView semiVoiceable = u"ハヒフヘホ";
    if (mark == VoicedMark || mark == 0xFF9E) {
        if (kana == u'ウ')
            return u'ヴ';
        return voiceable.contains(QChar(kana)) ? char16_t(kana + 1) : 0;
    }
    if (mark == SemiVoicedMark || mark == 0xFF9F)
        return semiVoiceable.contains(QChar(kana)) ? char16_t(kana + 2) : 0;
    return 0;
}

// One character as matching sees it: full-width ASCII as ASCII, half-width
// katakana as full-width, the ideographic space as a space, letters upper case.
char16_t fold(char16_t c)
{
    if (c >= 0xFF01 && c <= 0xFF5E)
        c = char16_t(c - 0xFEE0);
    else if (c >= 0xFF61 && c <= 0xFF9F)
        c = FullWidthOfHalf[c - 0xFF61];
    else if (c == 0x3000)
        c = u' ';
    if (c >= u'a' && c <= u'z')
        c = char16_t(c - 0x20);
    return c;
}

// The folded character of every CP932 single byte and double-byte pair (0: none).
struct FoldTable {
    char16_t single[256];
    char16_t pair[128][256];
};

char16_t foldedDecode(const QByteArray &bytes)
{
    const QString text = Cp932::decode(bytes);
    return text.size() == 1 && text.at(0) != QChar::ReplacementCharacter ? fold(text.at(0).unicode()) : 0;
}

const FoldTable &foldTable()
{
    static const std::unique_ptr<const FoldTable> table = [] {
        auto t = std::make_unique<FoldTable>();
        for (int b = 0; b < 256; ++b)
            t->single[b] = b == 0 || isLeadByte(uchar(b)) ? 0 : foldedDecode(QByteArray(1, char(b)));
        for (int lead = 0x80; lead < 0x100; ++lead) {
            std::fill(std::begin(t->pair[lead - 0x80]), std::end(t->pair[lead - 0x80]), char16_t(0));
            if (!isLeadByte(uchar(lead)))
                continue;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                const char pair[2] = {char(lead), char(trail)};
                t->pair[lead - 0x80][trail] = foldedDecode(QByteArray(pair, 2));
            }
        }
        return t;
    }();
    return *table;
}

// One way a character is written in CP932.
struct Encoding {
    uchar bytes[2];
    int size;
    // For a half-width katakana: its full-width form, which a following sound
    // mark turns into another character. 0 otherwise.
    char16_t kana;
};

std::vector<Encoding> encodingsOf(char16_t c)
{
    const FoldTable &t = foldTable();
    std::vector<Encoding> out;
    if (c == 0)
        return out;
    for (int b = 0; b < 256; ++b) {
        if (t.single[b] == c) {
            const bool halfKana = b >= 0xA1 && b <= 0xDF;
            out.push_back({{uchar(b), 0}, 1, halfKana ? c : char16_t(0)});
        }
    }
    for (int lead = 0x81; lead < 0x100; ++lead) {
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (t.pair[lead - 0x80][trail] == c)
                out.push_back({{uchar(lead), uchar(trail)}, 2, 0});
        }
    }
    // ｶﾞ = ガ: a half-width katakana and its sound mark, two bytes.
    for (int b = 0xA6; b <= 0xDD; ++b) {
        for (const uchar mark : {VoicedMark, SemiVoicedMark}) {
            if (withSoundMark(t.single[b], mark) == c)
                out.push_back({{uchar(b), mark}, 2, 0});
        }
    }
    return out;
}

// The word as folded characters, a half-width katakana with its sound mark as one.
std::vector<char16_t> foldedWord(const QString &word)
{
    std::vector<char16_t> out;
    for (qsizetype i = 0; i < word.size(); ++i) {
        const char16_t c = fold(word.at(i).unicode());
        const char16_t mark = i + 1 < word.size() ? word.at(i + 1).unicode() : 0;
        if (word.at(i).unicode() >= 0xFF61 && withSoundMark(c, mark)) {
            out.push_back(withSoundMark(c, mark));
            ++i;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The words of the text, folded, split at spaces (an ideographic space folds
// to a space).
std::vector<std::vector<char16_t>> wordsOf(const QString &text)
{
    std::vector<std::vector<char16_t>> words(1);
    for (const char16_t c : foldedWord(text)) {
        if (c != u' ')
            words.back().push_back(c);
        else if (!words.back().empty())
            words.emplace_back();
    }
    if (words.back().empty())
        words.pop_back();
    return words;
}

// Rough rarity of a character in mail text, higher = rarer: English letter
// frequency for letters, anything beyond ASCII counted as rare.
int rarity(char16_t c)
{
    static constexpr QStringView byFrequency = u"ETAOINSHRDLCUMWFGYPBVKJXQZ";
    if (c >= u'A' && c <= u'Z')
        return int(byFrequency.indexOf(QChar(c)));
    return c < 0x80 ? 10 : 26;
}

// A field start is the start of a character, so the lead-byte run before pos
// tells: after an even number of lead bytes, pos starts a character.
bool startsCharacter(const uchar *record, int fieldStart, int pos)
{
    int leads = 0;
    for (int i = pos - 1; i >= fieldStart && isLeadByte(record[i]); --i)
        ++leads;
    return leads % 2 == 0;
}

} // namespace

struct MailSearch::Pattern {
    // The byte strings the fast scan looks for: every way of writing the
    // anchor characters. first/last: their first and last byte.
    struct Needle {
        uchar first;
        uchar last;
        int lastOffset;
    };

    std::vector<char16_t> chars;
    std::vector<std::vector<Encoding>> encodings; // per character
    int anchor = 0;                               // first character of the needles
    std::vector<Needle> needles;
    int maxLastOffset = 0;
    bool possible = false;                        // every character has a CP932 form

    explicit Pattern(std::vector<char16_t> word);
    void chooseAnchor();
    bool matchesAt(const uchar *record, int pos) const;
    bool matchForward(const uchar *record, int pos, int end, size_t index) const;
    bool matchBackward(const uchar *record, int fieldStart, int end, int pos, size_t index) const;
    bool fits(const uchar *record, int pos, int end, const Encoding &e) const;
    bool scan(const uchar *record) const;
};

MailSearch::Pattern::Pattern(std::vector<char16_t> word) : chars(std::move(word))
{
    possible = !chars.empty();
    for (const char16_t c : chars) {
        encodings.push_back(encodingsOf(c));
        possible = possible && !encodings.back().empty();
    }
    if (possible)
        chooseAnchor();
}

// The run of characters with the fewest ways of writing them (at most
// MaxNeedles) and the longest shortest form, so that the scan stops rarely.
void MailSearch::Pattern::chooseAnchor()
{
    struct Choice {
        int begin = 0, end = 0, shortest = 0, ways = 0, rarity = 0;
        bool betterThan(const Choice &o) const
        {
            if (shortest != o.shortest)
                return shortest > o.shortest;
            if (ways != o.ways)
                return ways < o.ways;
            return rarity > o.rarity;
        }
    };
    Choice best;
    for (size_t begin = 0; begin < chars.size(); ++begin) {
        Choice c{int(begin), int(begin), 0, 1, 0};
        for (size_t end = begin; end < chars.size(); ++end) {
            const auto &forms = encodings[end];
            if (c.ways * int(forms.size()) > MaxNeedles)
                break;
            c.ways *= int(forms.size());
            c.end = int(end) + 1;
            c.shortest += std::min_element(forms.begin(), forms.end(), [](const Encoding &a, const Encoding &b) {
                return a.size < b.size;
            })->size;
            c.rarity += rarity(chars[end]);
            if (best.ways == 0 || c.betterThan(best))
                best = c;
        }
    }
    anchor = best.begin;
    // Every combination of the anchor characters' forms.
    std::vector<QByteArray> strings{QByteArray()};
    for (int i = best.begin; i < best.end; ++i) {
        std::vector<QByteArray> longer;
        for (const QByteArray &s : strings)
            for (const Encoding &e : encodings[size_t(i)])
                longer.push_back(s + QByteArray(reinterpret_cast<const char *>(e.bytes), e.size));
        strings = std::move(longer);
    }
    for (const QByteArray &s : strings) {
        needles.push_back({uchar(s.front()), uchar(s.back()), int(s.size()) - 1});
        maxLastOffset = std::max(maxLastOffset, int(s.size()) - 1);
    }
}

bool MailSearch::Pattern::fits(const uchar *record, int pos, int end, const Encoding &e) const
{
    if (pos < 0 || pos + e.size > end || record[pos] != e.bytes[0] || (e.size == 2 && record[pos + 1] != e.bytes[1]))
        return false;
    // ｶ followed by ﾞ is ガ, not カ.
    return !(e.kana && pos + 1 < end && withSoundMark(e.kana, record[pos + 1]));
}

bool MailSearch::Pattern::matchForward(const uchar *record, int pos, int end, size_t index) const
{
    if (index == chars.size())
        return true;
    for (const Encoding &e : encodings[index]) {
        if (fits(record, pos, end, e) && matchForward(record, pos + e.size, end, index + 1))
            return true;
    }
    return false;
}

// Characters index-1 … 0 written just before pos; the first must start a character.
bool MailSearch::Pattern::matchBackward(const uchar *record, int fieldStart, int end, int pos, size_t index) const
{
    if (index == 0)
        return startsCharacter(record, fieldStart, pos);
    for (const Encoding &e : encodings[index - 1]) {
        const int at = pos - e.size;
        if (at >= fieldStart && fits(record, at, end, e) && matchBackward(record, fieldStart, end, at, index - 1))
            return true;
    }
    return false;
}

bool MailSearch::Pattern::matchesAt(const uchar *record, int pos) const
{
    const int field = int(std::upper_bound(std::begin(FieldEnds), std::end(FieldEnds), pos) - std::begin(FieldEnds));
    const int fieldStart = field == 0 ? 0 : FieldEnds[field - 1];
    const int fieldEnd = FieldEnds[field];
    return matchForward(record, pos, fieldEnd, size_t(anchor))
        && matchBackward(record, fieldStart, fieldEnd, pos, size_t(anchor));
}

bool MailSearch::Pattern::scan(const uchar *record) const
{
    int pos = 0;
#ifdef __SSE2__
    // Sixteen positions at a time: where some needle's first and last byte are both in place.
    __m128i firsts[MaxNeedles];
    __m128i lasts[MaxNeedles];
    const int count = int(needles.size());
    for (int i = 0; i < count; ++i) {
        firsts[i] = _mm_set1_epi8(char(needles[size_t(i)].first));
        lasts[i] = _mm_set1_epi8(char(needles[size_t(i)].last));
    }
    const int lastBlock = std::min(TextEnd, RecordSize - 16 - maxLastOffset);
    for (; pos <= lastBlock; pos += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(record + pos));
        __m128i hits = _mm_setzero_si128();
        for (int i = 0; i < count; ++i) {
            const Needle &n = needles[size_t(i)];
            __m128i hit = _mm_cmpeq_epi8(block, firsts[i]);
            if (n.lastOffset > 0)
                hit = _mm_and_si128(hit, _mm_cmpeq_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(record + pos + n.lastOffset)), lasts[i]));
            hits = _mm_or_si128(hits, hit);
        }
        for (unsigned bits = unsigned(_mm_movemask_epi8(hits)); bits != 0; bits &= bits - 1) {
            const int at = pos + __builtin_ctz(bits);
            if (at < TextEnd && matchesAt(record, at))
                return true;
        }
    }
#endif
    for (; pos < TextEnd; ++pos) {
        for (const Needle &n : needles) {
            if (record[pos] == n.first && pos + n.lastOffset < RecordSize && record[pos + n.lastOffset] == n.last
                && matchesAt(record, pos))
                return true;
        }
    }
    return false;
}

MailSearch::MailSearch(const QString &word)
{
    m_possible = true;
    for (std::vector<char16_t> &chars : wordsOf(word)) {
        m_patterns.push_back(std::make_unique<Pattern>(std::move(chars)));
        m_possible = m_possible && m_patterns.back()->possible;
    }
}

MailSearch::~MailSearch() = default;

bool MailSearch::isBlank() const
{
    return m_patterns.empty();
}

bool MailSearch::matches(const char *record) const
{
    if (!m_possible || m_patterns.empty())
        return false;
    const auto *bytes = reinterpret_cast<const uchar *>(record);
    return std::all_of(m_patterns.begin(), m_patterns.end(), [bytes](const auto &p) { return p->scan(bytes); });
}

bool MailSearch::run(const QString &path, const std::function<void(int, const MailRecord &)> &found,
                     const std::atomic<bool> *cancel, Error *err) const
{
    bool missing = false;
    fileio::Fd fd = fileio::openForReading(path, &missing, err);
    if (!fd.isOpen())
        return missing;
    const qint64 size = fileio::sizeOf(fd.get(), path, err);
    if (size < 0)
        return false;
    const int count = int(size / RecordSize);
    if (!m_possible || m_patterns.empty() || count == 0)
        return true;
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    std::vector<char> buffer(size_t(ChunkRecords) * RecordSize);
    for (int first = 0; first < count; first += ChunkRecords) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return true;
        const int records = std::min(ChunkRecords, count - first);
        if (!fileio::readAt(fd.get(), buffer.data(), qint64(records) * RecordSize, qint64(first) * RecordSize, path,
                            err))
            return false;
        for (int r = 0; r < records; ++r) {
            const char *record = buffer.data() + size_t(r) * RecordSize;
            if ((record[FlagOffset] == 0 && record[FlagOffset + 1] == 0) || !matches(record))
                continue;
            MailRecord head;
            head.subject = Cp932::decodeField(record, MailRecordFile::SubjectWidth);
            head.date = Cp932::decodeField(record + FieldEnds[0], MailRecordFile::DateWidth);
            head.address = Cp932::decodeField(record + FieldEnds[1], MailRecordFile::AddressWidth);
            found(first + r + 1, head);
        }
    }
    return true;
}

} // namespace hollin

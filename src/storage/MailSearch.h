#pragma once

#include "Error.h"
#include "MailRecordFile.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace hollin {

// Finds the live records of a mail record file whose Subject, Date, Address or
// Body contains a word; words separated by spaces (half or full width) must
// all occur, each in any field. The word is encoded once and the file's CP932 bytes are
// scanned in large sequential reads; only the heads of hits are decoded.
//
// Matching: ASCII letters without regard to case; full-width and half-width
// forms of ASCII and katakana are the same character (Ａ = A, ｶ = カ,
// ｶﾞ = ガ, ideographic space = space). A match lies inside one field and
// starts on a character, never on the second byte of a double-byte one.
// A blank text finds nothing.
class MailSearch {
public:
    explicit MailSearch(const QString &word);
    ~MailSearch();
    MailSearch(const MailSearch &) = delete;
    MailSearch &operator=(const MailSearch &) = delete;

    bool isBlank() const;

    // Whether the text fields of one record (MailRecordFile::RecordSize bytes) hold the word.
    bool matches(const char *record) const;

    // Scans the file in record order and calls found(n, head) for each live record
    // that holds the word, as it is found; head has Subject, Date and Address
    // (full width), its body left empty. Returns early, with true, once *cancel
    // is set. A missing file is created empty, as every reader does.
    bool run(const QString &path, const std::function<void(int, const MailRecord &)> &found,
             const std::atomic<bool> *cancel = nullptr, Error *err = nullptr) const;

private:
    struct Pattern;
    std::vector<std::unique_ptr<Pattern>> m_patterns; // one per word
    bool m_possible = false; // every word can be written in CP932
};

} // namespace hollin

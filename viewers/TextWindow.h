#pragma once

#include <QWidget>

#include <QBasicTimer>
#include <QByteArray>
#include <QString>
#include <QTextCursor>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QLocale;
class QPlainTextEdit;
class QTextDocument;

// The viewer reads no more of a file than this.
constexpr std::size_t kTextViewerMaxBytes = std::size_t { 16 } << 20;

// The encoding of text files that are neither UTF-8 nor marked as UTF-16: the
// locale's own character set when it is an 8-bit or multi-byte one, and
// otherwise (a UTF-8 or plain C locale) the one that language's legacy files
// are written in: GB18030 for Chinese, Big5 for Chinese in traditional
// characters, windows-1252 (a superset of Latin-1) for Western languages.
QByteArray legacyTextEncoding(const QLocale& locale, const QByteArray& codeset);
// The same for the running process (its locale and LC_CTYPE character set).
QByteArray legacyTextEncoding();

// A file's bytes as the viewer shows them: UTF-16 after a byte-order mark,
// UTF-8 when they are valid UTF-8, otherwise in legacyEncoding; then up to the
// first zero character, with CR LF read as LF. cutShort says the bytes are the
// start of a longer file, so a character cut in two at their end is no error.
QString decodeTextForViewer(const std::string& bytes, const QByteArray& legacyEncoding, bool cutShort);

// The text a viewer shows for the file at path: its first kTextViewerMaxBytes
// bytes, decoded, and a last line saying so when the file is longer and the
// text reached the limit. Anything but a regular file (folder, FIFO, device),
// and a file that cannot be opened, gives an empty text; the call never waits
// for a writer.
QString textForViewer(const std::string& path, const QByteArray& legacyEncoding);
// The same with the last line's wording given (noteTemplate, see
// truncationNoteTemplate), for threads that must not ask the application.
QString textForViewer(const std::string& path, const QByteArray& legacyEncoding, const QString& noteTemplate);

// The last line of a text cut at the limit, e.g. "… (the first 16 MiB of 20.0 MiB shown)".
QString truncationNote(std::uint64_t shownBytes, std::uint64_t fileSize);
// Its wording in the user's language, with %1 and %2 for the two sizes.
QString truncationNoteTemplate();

// The viewer's text control lays out a block (a paragraph) whole whenever any
// of it shows, in time and memory that grow with its length, and keeps some
// 170 bytes for every block. So the text goes in as blocks of about this many
// characters: short lines share a block, joined by line separators (U+2028,
// shown and copied as line ends), and a longer line is cut into blocks of its
// own, preferably after a blank.
constexpr qsizetype kViewerBlockChars = 4096;

// A text as the viewer puts it into its control: its line ends within a block
// replaced by line separators, and the places where a block ends inside a
// line.
struct ViewerText {
    QString text;
    // Ascending positions in text before which a block ends without a line end.
    std::vector<qsizetype> splits;
    // The text has runs too long for word wrapping.
    bool wrapAnywhere = false;
};
ViewerText layoutViewerText(QString text, qsizetype blockChars = kViewerBlockChars);

// What a viewer's document shows, as the file's text: blocks cut inside a line
// joined again, and line and paragraph separators as line feeds.
QString viewerTextOf(const QTextDocument& document);

// A top-level window showing a file's text, read once, read-only. It owns
// itself: closing it deletes it. The window shows at once; the file is read
// and decoded on a thread of its own, and its text goes into the control a
// few milliseconds' worth per turn of the event loop, so that no file, however
// large, holds the program up.
class TextWindow : public QWidget {
public:
    TextWindow(int x, int y, const std::string& path);
    ~TextWindow() override;

    // The whole text is in the control.
    bool textComplete() const { return complete_; }
    // What the control shows (viewerTextOf its document).
    QString shownText() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    struct Load;

    void textArrived();
    void insertSome();

    QPlainTextEdit* textControl_ = nullptr;
    std::shared_ptr<Load> load_;
    // The text on its way into the control, and how far it has got.
    ViewerText pending_;
    qsizetype inserted_ = 0;
    std::size_t nextSplit_ = 0;
    QTextCursor end_;
    QBasicTimer feed_;
    bool complete_ = false;
};

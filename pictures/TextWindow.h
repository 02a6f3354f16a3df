#pragma once

#include <QWidget>

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

class QLocale;
class QPlainTextEdit;

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

// The last line of a text cut at the limit, e.g. "… (the first 16 MiB of 20.0 MiB shown)".
QString truncationNote(std::uint64_t shownBytes, std::uint64_t fileSize);

// A top-level window showing a file's text, read once, read-only. It owns
// itself: closing it deletes it.
class TextWindow : public QWidget {
public:
    TextWindow(int x, int y, const std::string& path);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPlainTextEdit* textControl_ = nullptr;
};

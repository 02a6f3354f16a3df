#pragma once

#include <QWidget>

#include <cstddef>
#include <string>

class QPlainTextEdit;

// The viewer reads no more of a file than this.
constexpr std::size_t kTextViewerMaxBytes = std::size_t { 16 } << 20;

// The text a viewer shows for the file at path: its first kTextViewerMaxBytes
// bytes, up to the first zero byte, with CR LF read as LF. Anything but a
// regular file (folder, FIFO, device), and a file that cannot be opened, gives
// an empty text; the call never waits for a writer.
std::string readTextForViewer(const std::string& path);

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

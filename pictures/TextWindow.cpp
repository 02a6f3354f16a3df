#include "pictures/TextWindow.h"

#include "pictures/PictureWindow.h"

#include <QPlainTextEdit>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The window grows with its position: 616 x 416 at offset 16.
constexpr int kBaseWidth = 600;
constexpr int kBaseHeight = 400;

// Qt's word wrapping takes time that grows with the square of the longest run it
// cannot break (a megabyte of binary takes minutes); text with longer runs than
// this is wrapped anywhere instead, which looks the same for such text.
constexpr std::size_t kLongestWrappedRun = 1024;

bool hasLongUnbrokenRun(const std::string& text)
{
    std::size_t run = 0;
    for (const char c : text) {
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r')
            run = 0;
        else if (++run > kLongestWrappedRun)
            return true;
    }
    return false;
}

} // namespace

std::string readTextForViewer(const std::string& path)
{
    std::string text;
    // O_NONBLOCK so that a FIFO without a writer cannot hold us; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return text;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        text.resize(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), kTextViewerMaxBytes));
        std::size_t got = 0;
        while (got < text.size()) {
            const ssize_t n = ::read(fd, &text[got], text.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break; // a file that shrank meanwhile shows what was there
            got += static_cast<std::size_t>(n);
        }
        text.resize(got);
    }
    ::close(fd);

    text.resize(::strnlen(text.data(), text.size()));
    // CR LF becomes LF; a CR on its own stays.
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        text[out++] = text[i];
    }
    text.resize(out);
    return text;
}

TextWindow::TextWindow(int x, int y, const std::string& path)
{
    setAttribute(Qt::WA_DeleteOnClose);
    // Viewers never keep the program running on their own.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QString::fromStdString(path));
    setCursor(Qt::CrossCursor);

    textControl_ = new QPlainTextEdit(this);
    textControl_->setReadOnly(true);
    // Read-only, but the keyboard still selects and scrolls.
    textControl_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    textControl_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    const std::string text = readTextForViewer(path);
    if (hasLongUnbrokenRun(text))
        textControl_->setWordWrapMode(QTextOption::WrapAnywhere);
    textControl_->setPlainText(QString::fromUtf8(text.data(), qsizetype(text.size())));

    placeTopLevelWindow(*this, x, y, std::int64_t { kBaseWidth } + x, std::int64_t { kBaseHeight } + y);
    textControl_->setGeometry(rect());
    show();
    raise();
    activateWindow();
}

void TextWindow::resizeEvent(QResizeEvent* event)
{
    textControl_->setGeometry(rect());
    QWidget::resizeEvent(event);
}

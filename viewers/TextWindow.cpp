#include "viewers/TextWindow.h"

#include "viewers/PictureWindow.h"

#include "files/RegularFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimerEvent>

#include <langinfo.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace {

// The window grows with its position: 616 x 416 at offset 16.
constexpr int kBaseWidth = 600;
constexpr int kBaseHeight = 400;

// Qt's word wrapping takes time that grows with the square of the longest run it
// cannot break (a megabyte of binary takes minutes); text with longer runs than
// this is wrapped anywhere instead, which looks the same for such text.
constexpr std::size_t kLongestWrappedRun = 1024;

bool hasLongUnbrokenRun(const QString& text)
{
    std::size_t run = 0;
    for (const QChar c : text) {
        if (c == u' ' || c == u'\n' || c == u'\t' || c == u'\r')
            run = 0;
        else if (++run > kLongestWrappedRun)
            return true;
    }
    return false;
}

// The characters the text control takes as the end of a block.
bool endsBlock(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'\n' || u == u'\r' || u == QChar::ParagraphSeparator || u == 0xFDD0 || u == 0xFDD1;
}

// A block cut inside a line: its end is no line end of the file's.
constexpr int kContinues = 1;

// Per turn of the event loop, at most this much time goes into putting text
// into a control, in pieces of at most this many characters.
constexpr qint64 kFeedMs = 8;
constexpr qsizetype kFeedChars = 16 * 1024;

// The text between two positions of a viewer's document, as the file has it.
QString documentText(const QTextDocument& document, int from, int to)
{
    QString out;
    for (QTextBlock b = document.findBlock(from); b.isValid() && b.position() < to; b = b.next()) {
        const QString text = b.text();
        const int start = b.position();
        const int a = std::max(from, start) - start;
        const int e = static_cast<int>(std::min<qsizetype>(to - start, text.size()));
        if (e > a)
            out += QStringView(text).mid(a, e - a);
        if (to > start + text.size() && b.next().isValid() && b.userState() != kContinues)
            out += QLatin1Char('\n');
    }
    // As the control itself gives its text.
    out.replace(QChar::LineSeparator, QLatin1Char('\n'));
    out.replace(QChar::Nbsp, QLatin1Char(' '));
    return out;
}

// Copies what is selected as the file has it: without line ends where a long
// line was cut into blocks.
class ViewerTextEdit : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    QMimeData* createMimeDataFromSelection() const override
    {
        const QTextCursor cursor = textCursor();
        auto* data = new QMimeData;
        data->setText(documentText(*document(), cursor.selectionStart(), cursor.selectionEnd()));
        return data;
    }
};

// One thread that reads and decodes files for the viewers, one at a time, in
// the order asked. Never stopped: a file on a hung mount must not hold the
// program's exit.
class FileReader {
public:
    static FileReader& instance()
    {
        static FileReader* reader = new FileReader;
        return *reader;
    }

    void post(std::function<void()> job)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(job));
            if (!started_) {
                std::thread(&FileReader::run, this).detach();
                started_ = true;
            }
        }
        wake_.notify_one();
    }

private:
    void run()
    {
        // Behind the GUI thread when both want the processor: a large file's
        // decoding must not take its time from the figure.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return !jobs_.empty(); });
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool started_ = false;
};

} // namespace

QByteArray legacyTextEncoding(const QLocale& locale, const QByteArray& codeset)
{
    const QByteArray set = codeset.toUpper();
    const bool unicodeOrPlain = set.isEmpty() || set == "UTF-8" || set == "UTF8" || set == "ANSI_X3.4-1968"
        || set == "ASCII" || set == "US-ASCII";
    if (!unicodeOrPlain)
        return codeset;
    switch (locale.language()) {
    case QLocale::Chinese: {
        const QLocale::Territory t = locale.territory();
        const bool traditional = locale.script() == QLocale::TraditionalChineseScript || t == QLocale::Taiwan
            || t == QLocale::HongKong || t == QLocale::Macao;
        return traditional ? "Big5" : "GB18030";
    }
    case QLocale::Japanese:
        return "Shift_JIS";
    case QLocale::Korean:
        return "EUC-KR";
    case QLocale::Russian:
    case QLocale::Ukrainian:
    case QLocale::Belarusian:
    case QLocale::Bulgarian:
    case QLocale::Serbian:
    case QLocale::Macedonian:
        return "windows-1251";
    case QLocale::Polish:
    case QLocale::Czech:
    case QLocale::Slovak:
    case QLocale::Hungarian:
    case QLocale::Slovenian:
    case QLocale::Croatian:
    case QLocale::Romanian:
        return "windows-1250";
    case QLocale::Greek:
        return "windows-1253";
    case QLocale::Turkish:
        return "windows-1254";
    case QLocale::Hebrew:
        return "windows-1255";
    case QLocale::Arabic:
    case QLocale::Persian:
        return "windows-1256";
    case QLocale::Estonian:
    case QLocale::Latvian:
    case QLocale::Lithuanian:
        return "windows-1257";
    case QLocale::Vietnamese:
        return "windows-1258";
    case QLocale::Thai:
        return "windows-874";
    default:
        return "windows-1252";
    }
}

QByteArray legacyTextEncoding()
{
    return legacyTextEncoding(QLocale::system(), QByteArray(::nl_langinfo(CODESET)));
}

QString decodeTextForViewer(const std::string& bytes, const QByteArray& legacyEncoding, bool cutShort)
{
    const QByteArrayView all(bytes.data(), qsizetype(bytes.size()));
    QString text;
    if (all.startsWith("\xFF\xFE") || all.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(all.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        text = utf16(all.sliced(2));
        text.truncate(text.indexOf(QChar(0)) < 0 ? text.size() : text.indexOf(QChar(0)));
    } else {
        QByteArrayView shown = all;
        const qsizetype zero = shown.indexOf('\0');
        if (zero >= 0) {
            shown = shown.first(zero);
            cutShort = false;
        }
        if (shown.startsWith("\xEF\xBB\xBF"))
            shown = shown.sliced(3);
        // Stateful unless cut short: a character split by the cut is then held
        // back, not taken as a sign of another encoding.
        QStringDecoder utf8(QStringConverter::Utf8,
                            cutShort ? QStringConverter::Flag::Default : QStringConverter::Flag::Stateless);
        text = utf8(shown);
        if (utf8.hasError()) {
            QStringDecoder legacy(legacyEncoding.constData());
            if (legacy.isValid())
                text = legacy(shown);
            else
                text = QString::fromUtf8(shown);
        }
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QString truncationNoteTemplate()
{
    return QCoreApplication::translate("TextWindow", "……（仅显示前 %1 MiB，共 %2 MiB）");
}

namespace {

QString noteFrom(const QString& noteTemplate, std::uint64_t shownBytes, std::uint64_t fileSize)
{
    const double mib = 1024.0 * 1024.0;
    return QString(noteTemplate)
        .arg(QString::number(double(shownBytes) / mib, 'g', 6), QString::number(double(fileSize) / mib, 'f', 1));
}

} // namespace

QString truncationNote(std::uint64_t shownBytes, std::uint64_t fileSize)
{
    return noteFrom(truncationNoteTemplate(), shownBytes, fileSize);
}

QString textForViewer(const std::string& path, const QByteArray& legacyEncoding)
{
    return textForViewer(path, legacyEncoding, truncationNoteTemplate());
}

QString textForViewer(const std::string& path, const QByteArray& legacyEncoding, const QString& noteTemplate)
{
    const RegularFile file = RegularFile::readPrefix(path, kTextViewerMaxBytes);
    if (!file.ok())
        return QString();
    const bool cut = file.truncated();
    QString text = decodeTextForViewer(file.bytes(), legacyEncoding, cut);
    // Said only when the limit, not a zero byte, ended the text.
    if (cut && file.bytes().find('\0') == std::string::npos) {
        if (!text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        text += noteFrom(noteTemplate, file.bytes().size(), file.fileSize());
    }
    return text;
}

ViewerText layoutViewerText(QString text, qsizetype blockChars)
{
    ViewerText out;
    out.wrapAnywhere = hasLongUnbrokenRun(text);
    blockChars = std::max<qsizetype>(blockChars, 2);
    const qsizetype n = text.size();
    QChar* d = text.data();
    qsizetype blockLength = 0;  // of the block the next line would join
    qsizetype previousEnd = -1; // the line end before the next line, if any
    for (qsizetype i = 0; i <= n;) {
        qsizetype end = i;
        while (end < n && !endsBlock(d[end]))
            ++end;
        const qsizetype length = end - i;
        if (previousEnd >= 0 && blockLength + 1 + length <= blockChars) {
            d[previousEnd] = QChar::LineSeparator;
            blockLength += 1 + length;
        } else {
            blockLength = length;
            // Too long for one block: cut, after a blank in the last quarter
            // where there is one, and never inside a surrogate pair.
            qsizetype start = i;
            while (end - start > blockChars) {
                qsizetype cut = start + blockChars;
                for (qsizetype k = cut - 1; k > cut - blockChars / 4; --k) {
                    if (d[k] == u' ') {
                        cut = k + 1;
                        break;
                    }
                }
                if (d[cut - 1].isHighSurrogate())
                    --cut;
                out.splits.push_back(cut);
                start = cut;
            }
            blockLength = end - start;
        }
        if (end == n)
            break;
        previousEnd = end;
        i = end + 1;
    }
    out.text = std::move(text);
    return out;
}

QString viewerTextOf(const QTextDocument& document)
{
    return documentText(document, 0, document.characterCount() - 1);
}

struct TextWindow::Load {
    std::mutex mutex;
    // Null once the window is gone.
    TextWindow* window = nullptr;
    // Handed over under the mutex; the queued call only says it is there.
    ViewerText text;
};

TextWindow::TextWindow(int x, int y, const std::string& path)
    : load_(std::make_shared<Load>())
{
    setAttribute(Qt::WA_DeleteOnClose);
    // Viewers never keep the program running on their own.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QFile::decodeName(QByteArray::fromStdString(path)));
    setCursor(Qt::CrossCursor);

    textControl_ = new ViewerTextEdit(this);
    textControl_->setReadOnly(true);
    // Read-only, but the keyboard still selects and scrolls.
    textControl_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    textControl_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Nobody edits: nothing to undo, and no copy of the text kept for it.
    textControl_->document()->setUndoRedoEnabled(false);
    end_ = QTextCursor(textControl_->document());

    load_->window = this;
    FileReader::instance().post([load = load_, path, legacy = legacyTextEncoding(), note = truncationNoteTemplate()] {
        {
            // Closed before its turn: not read at all.
            std::lock_guard<std::mutex> lock(load->mutex);
            if (!load->window)
                return;
        }
        ViewerText text = layoutViewerText(textForViewer(path, legacy, note));
        std::lock_guard<std::mutex> lock(load->mutex);
        if (TextWindow* window = load->window) {
            load->text = std::move(text);
            QMetaObject::invokeMethod(window, [window] { window->textArrived(); }, Qt::QueuedConnection);
        }
    });

    placeTopLevelWindow(*this, x, y, std::int64_t { kBaseWidth } + x, std::int64_t { kBaseHeight } + y);
    textControl_->setGeometry(rect());
    show();
    raise();
    activateWindow();
}

TextWindow::~TextWindow()
{
    // A text still on its way is dropped with the window (Qt discards the
    // call posted to it), and one not yet read is not read.
    std::lock_guard<std::mutex> lock(load_->mutex);
    load_->window = nullptr;
}

QString TextWindow::shownText() const
{
    return viewerTextOf(*textControl_->document());
}

void TextWindow::textArrived()
{
    {
        std::lock_guard<std::mutex> lock(load_->mutex);
        pending_ = std::move(load_->text);
    }
    if (pending_.wrapAnywhere)
        textControl_->setWordWrapMode(QTextOption::WrapAnywhere);
    insertSome();
    if (!complete_)
        feed_.start(0, this);
}

void TextWindow::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == feed_.timerId())
        insertSome();
    else
        QWidget::timerEvent(event);
}

void TextWindow::insertSome()
{
    QElapsedTimer clock;
    clock.start();
    const QString& text = pending_.text;
    const qsizetype size = text.size();
    while (inserted_ < size && clock.elapsed() < kFeedMs) {
        qsizetype end = std::min(size, inserted_ + kFeedChars);
        bool split = false;
        if (nextSplit_ < pending_.splits.size() && pending_.splits[nextSplit_] <= end) {
            end = pending_.splits[nextSplit_++];
            split = true;
        } else if (end < size && text[end - 1].isHighSurrogate()) {
            --end;
        }
        end_.insertText(text.mid(inserted_, end - inserted_));
        if (split) {
            end_.block().setUserState(kContinues);
            end_.insertBlock();
        }
        inserted_ = end;
    }
    if (inserted_ >= size) {
        complete_ = true;
        feed_.stop();
        // The control has its own copy now.
        pending_ = ViewerText();
    }
}

void TextWindow::resizeEvent(QResizeEvent* event)
{
    textControl_->setGeometry(rect());
    QWidget::resizeEvent(event);
}

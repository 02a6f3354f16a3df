#include "pictures/TextWindow.h"

#include "pictures/PictureWindow.h"

#include "files/RegularFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QPlainTextEdit>
#include <QStringDecoder>

#include <langinfo.h>

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

QString truncationNote(std::uint64_t shownBytes, std::uint64_t fileSize)
{
    const double mib = 1024.0 * 1024.0;
    return QCoreApplication::translate("TextWindow", "……（仅显示前 %1 MiB，共 %2 MiB）")
        .arg(QString::number(double(shownBytes) / mib, 'g', 6), QString::number(double(fileSize) / mib, 'f', 1));
}

QString textForViewer(const std::string& path, const QByteArray& legacyEncoding)
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
        text += truncationNote(file.bytes().size(), file.fileSize());
    }
    return text;
}

TextWindow::TextWindow(int x, int y, const std::string& path)
{
    setAttribute(Qt::WA_DeleteOnClose);
    // Viewers never keep the program running on their own.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QFile::decodeName(QByteArray::fromStdString(path)));
    setCursor(Qt::CrossCursor);

    textControl_ = new QPlainTextEdit(this);
    textControl_->setReadOnly(true);
    // Read-only, but the keyboard still selects and scrolls.
    textControl_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    textControl_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    const QString text = textForViewer(path, legacyTextEncoding());
    if (hasLongUnbrokenRun(text))
        textControl_->setWordWrapMode(QTextOption::WrapAnywhere);
    textControl_->setPlainText(text);

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

#include "dialogs/Utf8LimitValidator.h"

namespace {
int codePointBytes(char32_t c)
{
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

// Bytes of text[from, to), counting a surrogate pair as one 4-byte character.
int utf8Bytes(const QString& text, qsizetype from, qsizetype to)
{
    int bytes = 0;
    for (qsizetype i = from; i < to; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < to && text.at(i + 1).isLowSurrogate()) {
            bytes += 4;
            ++i;
        } else {
            bytes += codePointBytes(c.unicode());
        }
    }
    return bytes;
}
} // namespace

int utf8Length(const QString& text)
{
    return utf8Bytes(text, 0, text.size());
}

Utf8LimitValidator::Utf8LimitValidator(int maxBytes, QObject* parent) : QValidator(parent), maxBytes_(maxBytes) {}

QValidator::State Utf8LimitValidator::validate(QString& input, int& pos) const
{
    const int bytes = utf8Length(input);
    if (bytes <= maxBytes_ || bytes <= utf8Length(accepted_)) {
        accepted_ = input;
        return Acceptable;
    }

    // The edit grew past the limit. What it inserted is what lies between the
    // part it shares with the old text at the front and the part at the back.
    const QString& old = accepted_;
    qsizetype prefix = 0;
    const qsizetype common = qMin(old.size(), input.size());
    while (prefix < common && old.at(prefix) == input.at(prefix))
        ++prefix;
    if (prefix > 0 && input.at(prefix - 1).isHighSurrogate())
        --prefix;
    qsizetype suffix = 0;
    while (suffix < common - prefix && old.at(old.size() - 1 - suffix) == input.at(input.size() - 1 - suffix))
        ++suffix;
    if (suffix > 0 && input.at(input.size() - suffix).isLowSurrogate())
        --suffix;

    const qsizetype insertedEnd = input.size() - suffix;
    int room = maxBytes_ - utf8Bytes(input, 0, prefix) - utf8Bytes(input, insertedEnd, input.size());
    qsizetype keep = prefix;
    while (keep < insertedEnd) {
        const qsizetype step = (input.at(keep).isHighSurrogate() && keep + 1 < insertedEnd) ? 2 : 1;
        const int need = utf8Bytes(input, keep, keep + step);
        if (need > room)
            break;
        room -= need;
        keep += step;
    }

    input = input.left(keep) + input.mid(insertedEnd);
    pos = static_cast<int>(keep);
    accepted_ = input;
    return Acceptable;
}

#pragma once

#include <QString>
#include <QValidator>

// Bytes the text takes in UTF-8, the encoding names are stored in.
int utf8Length(const QString& text);

// Holds a line edit to a number of UTF-8 bytes the way a native edit field's
// text limit does: an insertion that would pass the limit is cut to what fits,
// never inside a character, and deleting is always allowed, even from a text
// that was put into the field longer than the limit. Qt's own maxLength counts
// UTF-16 units, which would let 54 Chinese characters (162 bytes) through.
class Utf8LimitValidator : public QValidator {
public:
    Utf8LimitValidator(int maxBytes, QObject* parent);

    // The text the field holds now; call it before setting the field's text
    // from code, which is not held to the limit.
    void setBaseline(const QString& text) { accepted_ = text; }

    State validate(QString& input, int& pos) const override;

private:
    int maxBytes_;
    // The text as last accepted: what an edit started from. validate() is
    // const in the interface but sees every change, so it keeps this up to date.
    mutable QString accepted_;
};

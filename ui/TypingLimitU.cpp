#include "ui/TypingLimitU.h"

#include "files/TextFileCodec.h"

#include <QLineEdit>

TTypingLimit::TTypingLimit(int maxLength, QObject* parent)
    : QValidator(parent)
    , FMaxLength(maxLength)
{
}

// The line edit rejects a typed change only from acceptable text; text set by
// the program is never validated, so it is kept as it is.
QValidator::State TTypingLimit::validate(QString& input, int&) const
{
    return input.size() <= FMaxLength ? Acceptable : Invalid;
}

void LimitTyping(QLineEdit* edit, int maxLength)
{
    edit->setValidator(new TTypingLimit(maxLength, edit));
}

QValidator::State TCodePageLimit::validate(QString& input, int&) const
{
    return EncodeWindows1250(input) ? Acceptable : Invalid;
}

void LimitToCodePage(QLineEdit* edit)
{
    edit->setValidator(new TCodePageLimit(edit));
}

#pragma once
// A length limit on what the user types into an edit, unlike
// QLineEdit::setMaxLength, which also cuts text set by the program: a stored
// value that is too long must stay whole, so that it is seen as invalid
// rather than cut into a valid-looking one.

#include <QValidator>

class QLineEdit;

class TTypingLimit : public QValidator {
    Q_OBJECT
public:
    TTypingLimit(int maxLength, QObject* parent);
    State validate(QString& input, int& pos) const override;

private:
    int FMaxLength;
};

// Installs a limit owned by the edit.
void LimitTyping(QLineEdit* edit, int maxLength);

// What is stored in windows-1250 (the settings file, the certificate page): a
// character the code page lacks is refused as it is typed, never replaced in
// the file.
class TCodePageLimit : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

void LimitToCodePage(QLineEdit* edit);

#pragma once

class QDialog;
class QString;

// Fills `dialog` with a heading, a plain note and a Close button: the face of
// the sheets whose features are not in this build yet.
void buildUnavailableNotice(QDialog *dialog, const QString &title, const QString &text);
